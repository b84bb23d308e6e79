// SPDX-License-Identifier: GPL-2.0-or-later
#include "monitor/host_setup.h"

#include "device/platform_disk_system.h"
#include "device/tracing_disk_system.h"
#include "sim_host.h"

namespace raid {

std::optional<Host> CreateHost(const HostOptions& options, std::string& error) {
  std::optional<sim::Scenario> scenario;
  if (options.scenario) {
    sim::ScenarioParseResult loaded = sim::LoadScenarioFile(*options.scenario);
    if (!loaded.scenario) {
      error = loaded.error;
      return std::nullopt;
    }
    scenario = std::move(loaded.scenario);
  }
  // A story that names its start time runs from then, at whatever pace was chosen.
  const std::optional<std::chrono::system_clock::time_point> starts_at =
      scenario ? scenario->starts_at : std::nullopt;
  Host host;
  switch (options.time) {
    case HostTime::kReal:
      if (starts_at) {
        host.clock = std::make_unique<ScaledClock>(1.0, starts_at);
      } else {
        host.clock = std::make_unique<SystemClock>();
      }
      break;
    case HostTime::kVirtual:
      host.clock =
          std::make_unique<VirtualClock>(starts_at.value_or(std::chrono::system_clock::now()));
      break;
    case HostTime::kScaled:
      host.clock = std::make_unique<ScaledClock>(options.speed, starts_at);
      break;
  }
  std::unique_ptr<DiskSystem> disks;
  if (scenario) {
    auto simulated = std::make_unique<sim::SimHost>(std::move(*scenario), *host.clock);
    // A monitor runs for hours; the violations found are kept, the command history is not.
    simulated->recorder().SetRetention(10000);
    host.simulated = simulated.get();
    disks = std::move(simulated);
  } else {
    disks = CreatePlatformDiskSystem();
  }
  host.disks = WrapWithTraceFromEnvironment(std::move(disks), &host.trace_problem);
  return host;
}

std::vector<std::string> ProtocolViolations(const Host& host) {
  if (host.simulated == nullptr) return {};
  std::vector<std::string> problems = host.simulated->recorder().ViolationTexts();
  for (const sim::DecodeError& error : host.simulated->recorder().DecodeErrors()) {
    problems.push_back("drive " + std::to_string(error.drive) + ": " + error.text);
  }
  return problems;
}

}  // namespace raid
