// SPDX-License-Identifier: GPL-2.0-or-later
// What every raidctl command works on: the host (real disks, or a simulated host from a
// scenario) with its clock, and the monitoring core around it, whose schedule raidctl drives.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/console_ui_sink.h"
#include "cli/watchdog.h"
#include "monitor/host_setup.h"
#include "monitor/monitor_core.h"

namespace raid::cli {

class CliSession {
 public:
  // Empty, with `error` set, when the scenario cannot be loaded.
  static std::unique_ptr<CliSession> Create(const CliOptions& options, std::string& error);

  // The host's clock, noting each use for the watchdog.
  HeartbeatClock& clock() { return heartbeat_; }
  DiskSystem& disks() { return *host_.disks; }
  MonitorCore& core() { return *core_; }
  PollingSchedule& schedule() { return core_->schedule(); }
  ConsoleScheduleView& view() { return view_; }
  SharedState& state() { return core_->state(); }
  DeviceAccess& device() { return core_->device(); }
  StatusMonitor& monitor() { return core_->monitor(); }
  EventDetector& detector() { return core_->detector(); }
  EventLog& log() { return core_->log(); }
  FolderLogStore& log_store() { return core_->log_store(); }
  AlertRouter& alerts() { return core_->alerts(); }
  ConsoleUiSink& ui() { return ui_; }
  bool simulated() const { return host_.simulated != nullptr; }
  bool virtual_time() const { return virtual_time_; }
  std::vector<std::string> ProtocolViolations() const { return raid::ProtocolViolations(host_); }

  // The schedule's start: runs the first discovery pass as the detection thread does and
  // installs its list as the detection timer does. Returns the number of enclosures.
  unsigned DiscoverAndInstall();

 private:
  CliSession(Host host, bool verbose, bool virtual_time);

  Host host_;
  HeartbeatClock heartbeat_;
  ConsoleUiSink ui_;
  ConsoleScheduleView view_;
  std::unique_ptr<MonitorCore> core_;
  bool virtual_time_;
};

}  // namespace raid::cli
