// SPDX-License-Identifier: GPL-2.0-or-later
// Scenario files are text from outside: any text either parses or yields an error naming the
// field. What parses must make a host that the program's discovery can run against.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/clock.h"
#include "common/shared_state.h"
#include "common/ui_sink.h"
#include "device/device_access.h"
#include "scenario.h"
#include "sim_host.h"
#include "status/status_monitor.h"

namespace {

class QuietUiSink : public raid::UiSink {
 public:
  void SetPanelText(int, const std::string&) override {}
  void ShowMessage(const raid::MessageBoxRequest&) override {}
  void SetMonitorChecked(int, bool) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  raid::sim::ScenarioParseResult parsed = raid::sim::ParseScenario(text);
  if (!parsed.scenario) {
    // A rejected scenario must say why.
    if (parsed.error.empty()) __builtin_trap();
    return 0;
  }

  raid::VirtualClock clock;
  raid::sim::SimHost host(std::move(*parsed.scenario), clock);
  raid::SharedState state;
  QuietUiSink ui;
  raid::DeviceAccess device(host, clock, state);
  raid::StatusMonitor monitor(device.commands(), clock, state, device.registry(), ui);
  device.discovery().SetStatusFiller(&monitor);

  state.detection.running.store(true);
  device.discovery().CountLogicalDrives();
  device.discovery().CountPhysicalDrives();
  device.discovery().RunDiscovery(ui);
  raid::InstallNewList(device.registry(), state.detection.initial.load());
  state.detection.running.store(false);
  // The simulator's own verdict: a well-formed session never breaks its protocol.
  if (!host.recorder().ViolationTexts().empty()) __builtin_trap();
  return 0;
}
