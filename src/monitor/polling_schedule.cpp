// SPDX-License-Identifier: GPL-2.0-or-later
#include "monitor/polling_schedule.h"

#include <algorithm>

namespace raid {
namespace {

constexpr std::uint8_t kWorkRequestBits =
    kRequestStatusPoll | kRequestSmartThresholds | kRequestSmartData;
constexpr std::uint8_t kWorkBusyStatusPoll = 0x01;
constexpr int kDetectedPanel = 1;
constexpr int kClearedPanel = 2;

// Ends a work item on every way out of it, an exception too: its request is taken, so that an
// item that failed waits for the next request instead of failing again at once, and its busy
// bit is cleared, so that the next request runs it.
class WorkItemEnd {
 public:
  WorkItemEnd(std::atomic<std::uint8_t>& requests, std::uint8_t request,
              std::atomic<std::uint8_t>& busy, std::uint8_t busy_bit)
      : requests_(requests), request_(request), busy_(busy), busy_bit_(busy_bit) {}
  ~WorkItemEnd() {
    requests_.fetch_and(static_cast<std::uint8_t>(~request_));
    busy_.fetch_and(static_cast<std::uint8_t>(~busy_bit_));
  }
  WorkItemEnd(const WorkItemEnd&) = delete;
  WorkItemEnd& operator=(const WorkItemEnd&) = delete;

 private:
  std::atomic<std::uint8_t>& requests_;
  std::uint8_t request_;
  std::atomic<std::uint8_t>& busy_;
  std::uint8_t busy_bit_;
};

std::string SmartStatusLine(std::uint8_t countdown, bool reading) {
  if (reading || countdown == 0) return "Updating...";
  const std::string unit = countdown > 1 ? " seconds." : " second.";
  return "Updates after " + std::to_string(countdown) + unit;
}

}  // namespace

std::string MoreEnclosuresText(std::size_t found) {
  if (found <= kShownDevices) return "";
  return "Device1-Device2 shown; " + std::to_string(found) + " enclosures found";
}

PollingSchedule::PollingSchedule(SharedState& state, Discovery& discovery,
                                 const EnclosureRegistry& registry, ScheduleWork& work,
                                 ScheduleView& view, UiSink& ui, unsigned watched_positions)
    : state_(state),
      discovery_(discovery),
      registry_(registry),
      work_(work),
      view_(view),
      ui_(ui),
      watched_positions_(std::min<unsigned>(watched_positions, kMaxEnclosures)) {}

void PollingSchedule::Start() {
  state_.detection.change_counter.store(0);
  // The first pass counts the drives itself, on the detection thread, and always runs.
  pass_forced_.store(true);
  state_.detection.requested.store(true);
  state_.detection.pending.store(true);
  state_.detection.running.store(true);
  state_.detection.done.store(false);
  state_.polling.work_requests.store(0);
  smart_countdown_.store(kSmartCountdownStart);
  work_busy_.store(0);
  SetDetectionText(kDetectingText, true);
}

void PollingSchedule::DeviceChanged() {
  state_.detection.change_counter.store(kDeviceChangeStart);
}

void PollingSchedule::SetDetectionText(const std::string& text, bool visible) {
  detection_text_ = text;
  detection_text_visible_ = visible;
  view_.ShowDetectionText(text, visible);
}

void PollingSchedule::RequestStatusPoll() {
  if (state_.detection.change_counter.load() == 0 && !state_.detection.running.load() &&
      !state_.polling.status_poll_busy.load() && !state_.upgrade.in_progress.load() &&
      !state_.shutting_down.load()) {
    if (state_.polling.work_requests.load() & kLogRunningFlag) {
      state_.polling.work_requests.fetch_or(kRequestStatusPoll);
    } else {
      // After an upgrade the first tick only re-arms polling; it drops whatever was pending,
      // except a SMART pass that has begun: its other enclosures are still to be read.
      state_.polling.work_requests.store(kLogRunningFlag | smart_under_way_.load());
    }
  } else if (state_.upgrade.in_progress.load()) {
    state_.polling.work_requests.fetch_and(static_cast<std::uint8_t>(~kLogRunningFlag));
  }
}

void PollingSchedule::TickSmartCountdown() {
  if (state_.detection.change_counter.load() != 0 || state_.detection.running.load() ||
      state_.upgrade.in_progress.load() || state_.shutting_down.load()) {
    return;
  }
  const bool reading = (state_.polling.work_requests.load() & kRequestSmartData) != 0;
  const std::uint8_t countdown = smart_countdown_.load();
  if (state_.polling.smart_readings_shown.load()) {
    view_.SetSmartStatusLine(SmartStatusLine(countdown, reading));
  }
  if (reading) return;  // the countdown waits for the read
  if (countdown != 0) {
    smart_countdown_.store(countdown - 1);
    return;
  }
  std::uint8_t requests = kRequestSmartData;
  if (!state_.polling.smart_thresholds_read.load()) requests |= kRequestSmartThresholds;
  state_.polling.work_requests.fetch_or(requests);
  smart_countdown_.store(kSmartCountdownStart);
}

void PollingSchedule::TickDetection() {
  const std::uint8_t counter = state_.detection.change_counter.load();
  if (counter != 0) {
    if (counter < kDeviceChangeSettled) {
      state_.detection.change_counter.store(counter + 1);
      return;
    }
    // A change that comes while a pass runs, or while its list waits, waits for the list: a
    // recount now would clear DetectionRunning in the middle of the pass (its queries would
    // then go to the selected enclosure) or start a second pass beside it.
    if (!state_.detection.pending.load() && !state_.detection.done.load()) {
      RequestRecount();
      return;
    }
  }
  if (recount_unchanged_.exchange(false)) view_.EnableUpgradeButton(true);
  if (!state_.detection.done.load()) {
    if (!state_.detection.pending.load()) return;
    if (pass_running_.load() && registry_.current.empty() && detection_text_ != kDetectingText) {
      SetDetectionText(kDetectingText, true);
    } else if (detection_text_ == kDetectingText) {
      SetDetectionText(detection_text_, !detection_text_visible_);  // blinks at 1 Hz
    }
    return;
  }
  Install();
}

void PollingSchedule::RequestRecount() {
  if (state_.polling.status_poll_busy.load()) return;  // next tick
  // Nor under any work item of the RAID worker (a SMART read takes a while): the pass would
  // open the enclosure's volumes in the middle of its exchanges. Holding the lock while the
  // pass is requested closes the gap between RaidLook's look at the flags and its work.
  std::unique_lock lock(work_mutex_, std::try_to_lock);
  if (!lock.owns_lock()) return;  // next tick
  view_.EnableUpgradeButton(false);
  if (state_.upgrade.in_progress.load()) {
    // The counter stays settled: the recount runs on the first tick after the upgrade.
    view_.EnableUpgradeButton(true);
    return;
  }
  // The drives are counted on the detection thread: opening a disk that is in error recovery
  // can block, and the window never waits for a disk.
  state_.detection.running.store(true);
  state_.detection.change_counter.store(0);
  state_.detection.pending.store(true);
  state_.detection.requested.store(true);
}

void PollingSchedule::Install() {
  // Not while an upgrade runs: its thread reads the list this replaces. After it, next tick.
  if (state_.upgrade.in_progress.load()) return;
  // Not under a running work item: a poll reads the list this replaces. Try again next tick.
  std::unique_lock lock(work_mutex_, std::try_to_lock);
  if (!lock.owns_lock()) return;
  state_.detection.done.store(false);
  ui_.SetPanelText(kDetectedPanel, "Detected OK");
  ui_.SetPanelText(kClearedPanel, " ");
  const std::size_t found = registry_.fresh.size();
  for (unsigned position = 0; position < state_.polling.monitor_checked.size(); ++position) {
    const bool listed = position < found;
    if (position < kShownDevices) view_.ShowDevice(position, listed);
    state_.polling.monitor_checked[position].store(listed && position < watched_positions_);
  }
  work_.InstallList();

  if (registry_.current.empty()) {
    view_.EnableControls(false);
    view_.RefreshDeviceCaptions();
    smart_countdown_on_.store(false);
    state_.detection.running.store(false);
    SetDetectionText(kNoDriveFoundText, true);
    return;
  }
  const auto last = static_cast<std::uint8_t>(registry_.current.size() - 1);
  if (state_.target.selected_index.load() > last) state_.target.selected_index.store(last);
  view_.EnableControls(true);
  view_.ShowEventLogButton();
  view_.RefreshDeviceCaptions();
  state_.detection.running.store(false);
  state_.polling.work_requests.fetch_or(kWorkRequestBits);
  status_polls_on_.store(true);
  smart_countdown_on_.store(true);
  const std::string more = MoreEnclosuresText(registry_.current.size());
  SetDetectionText(more.empty() ? " " : more, !more.empty());
}

bool PollingSchedule::DriveDetectLook() {
  if (!state_.detection.requested.exchange(false)) return false;
  try {
    // The counts are kept for the next recount; a pass only when they changed (or at start).
    const bool changed = discovery_.RecountChangedDrives();
    if (pass_forced_.exchange(false) || changed) {
      pass_running_.store(true);
      work_.RunDiscovery();
      pass_running_.store(false);
      state_.detection.pending.store(false);
      state_.detection.done.store(true);  // last: the list is complete
    } else {
      state_.detection.running.store(false);
      recount_unchanged_.store(true);
      state_.detection.pending.store(false);
    }
  } catch (...) {
    EndFailedPass();
    throw;
  }
  return true;
}

void PollingSchedule::EndFailedPass() {
  // The list the pass was filling is incomplete: nothing is installed, the enclosures listed
  // before go on being polled, and a new pass runs after the settle delay, as after a change.
  pass_running_.store(false);
  pass_forced_.store(true);
  state_.detection.change_counter.store(kDeviceChangeStart);
  state_.detection.running.store(false);
  recount_unchanged_.store(true);  // the upgrade button comes back meanwhile
  state_.detection.pending.store(false);
}

bool PollingSchedule::RaidLook() {
  // The flags are looked at under the lock that RequestRecount takes to set them.
  const std::lock_guard lock(work_mutex_);
  if (state_.detection.pending.load() || state_.detection.done.load()) return false;
  if ((state_.polling.work_requests.load() & kWorkRequestBits) == 0) return false;
  RaidWork();
  return true;
}

void PollingSchedule::RaidWork() {
  const std::lock_guard lock(work_mutex_);
  const std::uint8_t requests = state_.polling.work_requests.load();
  if (requests & kRequestStatusPoll) {
    // Re-entered while a poll runs further up: leave the request for a later look.
    if (work_busy_.load() & kWorkBusyStatusPoll) return;
    work_busy_.fetch_or(kWorkBusyStatusPoll);
    const WorkItemEnd end(state_.polling.work_requests, kRequestStatusPoll, work_busy_,
                          kWorkBusyStatusPoll);
    work_.RefreshStatus();
  } else if (requests & kRequestSmartThresholds) {
    ReadSmartStep(kRequestSmartThresholds, kSmartThresholdsFeature);
  } else if (requests & kRequestSmartData) {
    ReadSmartStep(kRequestSmartData, kSmartDataFeature);
  }
}

void PollingSchedule::ReadSmartStep(std::uint8_t request, std::uint8_t feature) {
  // One enclosure per item, so that status polls run between the enclosures of a pass: the
  // request stays until the pass is over. An item that throws ends its pass.
  bool over = true;
  smart_under_way_.fetch_or(request);
  try {
    over = work_.ReadSmart(feature);
  } catch (...) {
    smart_under_way_.fetch_and(static_cast<std::uint8_t>(~request));
    state_.polling.work_requests.fetch_and(static_cast<std::uint8_t>(~request));
    throw;
  }
  if (over) {
    smart_under_way_.fetch_and(static_cast<std::uint8_t>(~request));
    state_.polling.work_requests.fetch_and(static_cast<std::uint8_t>(~request));
  }
}

}  // namespace raid
