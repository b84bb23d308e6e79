// SPDX-License-Identifier: GPL-2.0-or-later
#include "monitor/monitor_core.h"

namespace raid {

MonitorCore::MonitorCore(DiskSystem& disks, Clock& clock, UiSink& ui, UiSink& worker_ui,
                         ScheduleView& view, std::filesystem::path log_folder, WatchPolicy watch)
    : device_(disks, clock, state_),
      monitor_(device_.commands(), clock, state_, device_.registry(), worker_ui, watch),
      log_store_(std::move(log_folder)),
      detector_(log_, log_store_, clock, state_, device_.registry(), monitor_, alerts_,
                watch.detected_positions),
      smart_store_(state_.polling.smart_thresholds_read),
      smart_reader_(device_.commands(), state_, device_.registry(), monitor_, smart_store_, watch),
      work_(device_, monitor_, detector_, state_, worker_ui),
      schedule_(state_, device_.discovery(), device_.registry(), work_, view, ui,
                watch.polled_positions) {
  device_.discovery().SetStatusFiller(&monitor_);
  monitor_.SetListener(this);
  work_.SetSmartReader(&smart_reader_);
}

void MonitorCore::OnStatusRefreshed(PositionMask refreshed_mask) {
  detector_.DetectEvents(refreshed_mask);
  // The start-up state ends with the first detector call, which wrote the start section; the
  // window's first draw follows it.
  state_.detection.initial.store(false);
  if (after_detection_) after_detection_(refreshed_mask);
}

}  // namespace raid
