// SPDX-License-Identifier: GPL-2.0-or-later
#include "hardware.h"

namespace raid::sim {

MemberSpec EnclosureSpec::DefaultMember(unsigned port) {
  MemberSpec member;
  member.serial = port == 0 ? "NW1A00004711" : "NW1A00004712";
  return member;
}

EnclosureSpec EnclosureSpec::PortMultiplier() {
  EnclosureSpec config;
  config.kind = BridgeKind::kPortMultiplier;
  config.revision = {0x15, 0x11, 0x02, 0x01, 0x21, 0x09, 0x00, 0x00};
  config.model_text.clear();
  config.vendor = "KELDRIX";
  config.product = "PM2109 Dual Bay";
  config.sensors = false;
  config.firmware_type = 0x01;
  config.members[0]->model = "NORTHWIND NW2000SA-01";
  config.members[0]->capacity = 3907029168;
  config.members[0]->serial = "NW2B00000815";
  config.members[1]->model = "NORTHWIND NW2000SA-01";
  config.members[1]->capacity = 3907029168;
  config.members[1]->serial = "NW2B00000816";
  config.disk_capacity = 3907029168;
  return config;
}

}  // namespace raid::sim
