#include "sim_specs.h"

namespace raid::sim {

MemberSpec EnclosureSpec::DefaultMember(unsigned port) {
  MemberSpec member;
  member.serial = port == 0 ? "NW1A00004711" : "NW1A00004712";
  return member;
}

EnclosureSpec EnclosureSpec::PortMultiplier() {
  EnclosureSpec spec;
  spec.kind = BridgeKind::kPortMultiplier;
  spec.revision = {0x15, 0x11, 0x02, 0x01, 0x21, 0x09, 0x00, 0x00};
  spec.model_text.clear();
  spec.vendor = "KELDRIX";
  spec.product = "PM2109 Dual Bay";
  spec.sensors = false;
  spec.firmware_type = 0x01;
  spec.members[0]->model = "NORTHWIND NW2000SA-01";
  spec.members[0]->capacity = 3907029168;
  spec.members[0]->serial = "NW2B00000815";
  spec.members[1]->model = "NORTHWIND NW2000SA-01";
  spec.members[1]->capacity = 3907029168;
  spec.members[1]->serial = "NW2B00000816";
  spec.disk_capacity = 3907029168;
  return spec;
}

}  // namespace raid::sim
