// SPDX-License-Identifier: GPL-2.0-or-later
// The device-access subsystem as its owner (the window, raidctl) holds it: one transport and one
// exchange gate for the whole program, the enclosure lists, the command wrappers, the flash range
// operations and discovery, all addressing disks through one DiskSystem.
#pragma once

#include "common/clock.h"
#include "common/shared_state.h"
#include "device/controller_commands.h"
#include "device/discovery.h"
#include "device/enclosure_list.h"
#include "device/exchange_gate.h"
#include "device/flash_access.h"
#include "device/target_device.h"
#include "device/transport.h"

namespace raid {

class DeviceAccess {
 public:
  DeviceAccess(DiskSystem& disks, Clock& clock, SharedState& state)
      : transport_(clock),
        commands_(disks, transport_, gate_,
                  [this, &state] { return TargetDevice(state, registry_); }),
        flash_(disks, commands_, clock, state, registry_),
        discovery_(disks, commands_, flash_, clock, state, registry_) {}

  DeviceAccess(const DeviceAccess&) = delete;
  DeviceAccess& operator=(const DeviceAccess&) = delete;

  EnclosureRegistry& registry() { return registry_; }
  ControllerCommands& commands() { return commands_; }
  FlashAccess& flash() { return flash_; }
  Discovery& discovery() { return discovery_; }

 private:
  EnclosureRegistry registry_;
  ExchangeGate gate_;
  Transport transport_;
  ControllerCommands commands_;
  FlashAccess flash_;
  Discovery discovery_;
};

}  // namespace raid
