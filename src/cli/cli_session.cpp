// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/cli_session.h"

#include <cstdio>

namespace raid::cli {

CliSession::CliSession(Host host, bool verbose, bool virtual_time)
    : host_(std::move(host)), heartbeat_(*host_.clock), ui_(verbose), virtual_time_(virtual_time) {
  // One thread does the detection thread's and the RAID worker's work in turn: what they show
  // can go straight to the terminal.
  // Nobody checks a box for raidctl: it watches every enclosure it finds.
  core_ = std::make_unique<MonitorCore>(*host_.disks, heartbeat_, ui_, ui_, view_, LogFolder(),
                                        kEveryEnclosureWatch);
  view_.SetDiscovery(&core_->device().discovery());
}

std::unique_ptr<CliSession> CliSession::Create(const CliOptions& options, std::string& error) {
  HostOptions host_options;
  host_options.scenario = options.scenario;
  // A simulated story runs on simulated time unless asked to run at wall-clock speed.
  const bool virtual_time = options.scenario && !options.realtime;
  host_options.time = virtual_time ? HostTime::kVirtual : HostTime::kReal;
  std::optional<Host> host = CreateHost(host_options, error);
  if (!host) return nullptr;
  if (!host->trace_problem.empty()) {
    std::fprintf(stderr, "raidctl: %s\n", host->trace_problem.c_str());
  }
  return std::unique_ptr<CliSession>(
      new CliSession(std::move(*host), options.verbose, virtual_time));
}

unsigned CliSession::DiscoverAndInstall() {
  schedule().Start();
  schedule().DriveDetectLook();
  schedule().TickDetection();
  return static_cast<unsigned>(device().registry().current.size());
}

}  // namespace raid::cli
