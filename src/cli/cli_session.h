// What every raidctl command works on: a clock, the host's disks (real, or simulated from a
// scenario) behind the optional protocol trace, the shared flags, the device subsystem, and the
// status monitor with its event detector and daily log.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/monitor_work.h"
#include "app/polling_schedule.h"
#include "cli/cli_options.h"
#include "cli/console_ui_sink.h"
#include "common/clock.h"
#include "common/shared_state.h"
#include "device/device_access.h"
#include "device/disk_system.h"
#include "notify/alert_sink.h"
#include "status/event_detector.h"
#include "status/event_log.h"
#include "status/status_monitor.h"

namespace raid::sim {
class SimHost;
}

namespace raid::cli {

class CliSession : private RefreshListener {
 public:
  // Empty, with `error` set, when the scenario cannot be loaded.
  static std::unique_ptr<CliSession> Create(const CliOptions& options, std::string& error);

  Clock& clock() { return *clock_; }
  DiskSystem& disks() { return *disks_; }
  PollingSchedule& schedule() { return *schedule_; }
  ConsoleScheduleView& view() { return view_; }
  SharedState& state() { return state_; }
  DeviceAccess& device() { return *device_; }
  StatusMonitor& monitor() { return *monitor_; }
  EventDetector& detector() { return *detector_; }
  EventLog& log() { return log_; }
  FolderLogStore& log_store() { return *log_store_; }
  RecordingAlertSink& alerts() { return alerts_; }
  ConsoleUiSink& ui() { return ui_; }
  bool simulated() const { return simulated_; }
  // What the simulated controllers found wrong with what they were sent: anything but READ(10)
  // and INQUIRY, interleaved exchanges. Always empty on real disks.
  std::vector<std::string> ProtocolViolations() const;
  bool virtual_time() const { return virtual_time_; }

  // The schedule's start: counts the drives, runs the first discovery pass as the detection
  // thread does and installs its list as the detection timer does. Returns the number of
  // enclosures.
  unsigned DiscoverAndInstall();
  // Called after each status refresh's event detection (raidctl monitor echoes the new lines).
  void SetAfterDetection(std::function<void()> after) { after_detection_ = std::move(after); }

 private:
  explicit CliSession(bool verbose) : ui_(verbose) {}
  void OnStatusRefreshed(std::uint8_t refreshed_mask) override;

  std::unique_ptr<Clock> clock_;
  std::unique_ptr<DiskSystem> disks_;
  SharedState state_;
  ConsoleUiSink ui_;
  std::unique_ptr<DeviceAccess> device_;
  std::unique_ptr<StatusMonitor> monitor_;
  EventLog log_;
  std::unique_ptr<FolderLogStore> log_store_;
  RecordingAlertSink alerts_;
  std::unique_ptr<EventDetector> detector_;
  ConsoleScheduleView view_;
  std::unique_ptr<MonitorWork> work_;
  std::unique_ptr<PollingSchedule> schedule_;
  std::function<void()> after_detection_;
  sim::SimHost* sim_host_ = nullptr;
  bool simulated_ = false;
  bool virtual_time_ = false;
};

}  // namespace raid::cli
