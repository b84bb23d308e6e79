// SPDX-License-Identifier: GPL-2.0-or-later
// The program's monitoring state and subsystems as one owner holds them: the shared flags, the
// device subsystem, the status monitor, the day's event log with its detector, and the schedule
// that drives them. The window and raidctl each own one, around a host of disks and a clock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "common/clock.h"
#include "common/shared_state.h"
#include "common/ui_sink.h"
#include "device/device_access.h"
#include "device/disk_system.h"
#include "events/alert_sink.h"
#include "events/event_detector.h"
#include "events/event_log.h"
#include "health/smart_reader.h"
#include "health/smart_store.h"
#include "monitor/monitor_work.h"
#include "monitor/polling_schedule.h"
#include "status/status_monitor.h"

namespace raid {

class MonitorCore : private RefreshListener {
 public:
  // `worker_ui` receives what discovery and the status poll show; they run on worker threads in
  // the window, so it must be safe to call from them. `ui` is the window thread's own.
  // `watch` says which enclosures of each list are polled and watched for events.
  MonitorCore(DiskSystem& disks, Clock& clock, UiSink& ui, UiSink& worker_ui, ScheduleView& view,
              std::filesystem::path log_folder, WatchPolicy watch = kWindowWatch);
  MonitorCore(const MonitorCore&) = delete;
  MonitorCore& operator=(const MonitorCore&) = delete;

  SharedState& state() { return state_; }
  DeviceAccess& device() { return device_; }
  StatusMonitor& monitor() { return monitor_; }
  EventLog& log() { return log_; }
  FolderLogStore& log_store() { return log_store_; }
  // Alerts go to the mailer once one is installed (SetTarget), and are recorded until then.
  AlertRouter& alerts() { return alerts_; }
  EventDetector& detector() { return detector_; }
  // The SMART reads the schedule asks for, and what they left.
  SmartStore& smart_store() { return smart_store_; }
  DriveSmartReader& smart_reader() { return smart_reader_; }
  MonitorWork& work() { return work_; }
  PollingSchedule& schedule() { return schedule_; }

  // Called on the RAID worker after each status refresh's event detection, with the mask of
  // refreshed positions.
  void SetAfterDetection(std::function<void(PositionMask)> after) {
    after_detection_ = std::move(after);
  }

 private:
  void OnStatusRefreshed(PositionMask refreshed_mask) override;

  SharedState state_;
  DeviceAccess device_;
  StatusMonitor monitor_;
  EventLog log_;
  FolderLogStore log_store_;
  AlertRouter alerts_;
  EventDetector detector_;
  SmartStore smart_store_;
  DriveSmartReader smart_reader_;
  MonitorWork work_;
  PollingSchedule schedule_;
  std::function<void(PositionMask)> after_detection_;
};

}  // namespace raid
