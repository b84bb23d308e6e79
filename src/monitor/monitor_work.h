// SPDX-License-Identifier: GPL-2.0-or-later
// The work the schedule sets going, done by the subsystems themselves: discovery, installing its
// list with the found and removed lines, the status poll with event detection, SMART reads.
// Shared by the window and raidctl.
#pragma once

#include <cstdint>

#include "common/shared_state.h"
#include "common/ui_sink.h"
#include "device/device_access.h"
#include "events/event_detector.h"
#include "health/smart_reading.h"
#include "monitor/polling_schedule.h"
#include "status/status_monitor.h"

namespace raid {

class MonitorWork : public ScheduleWork {
 public:
  // `detection_ui` receives what discovery shows; it runs on the detection thread, so the window
  // passes a deferred sink that it replays on its own thread.
  MonitorWork(DeviceAccess& device, StatusMonitor& monitor, EventDetector& detector,
              SharedState& state, UiSink& detection_ui)
      : device_(device),
        monitor_(monitor),
        detector_(detector),
        state_(state),
        detection_ui_(detection_ui) {}

  // Without a reader the requests are taken and dropped.
  void SetSmartReader(SmartReader* reader) { smart_ = reader; }

  void RunDiscovery() override { device_.discovery().RunDiscovery(detection_ui_); }
  void InstallList() override;
  void RefreshStatus() override { monitor_.RefreshStatus(); }
  bool ReadSmart(std::uint8_t feature) override {
    return smart_ == nullptr || smart_->ReadSmart(feature);
  }

 private:
  DeviceAccess& device_;
  StatusMonitor& monitor_;
  EventDetector& detector_;
  SharedState& state_;
  UiSink& detection_ui_;
  SmartReader* smart_ = nullptr;
};

}  // namespace raid
