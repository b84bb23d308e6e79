// SPDX-License-Identifier: GPL-2.0-or-later
// The detection and polling schedule: the main window's four timers and the loop bodies of the
// detection and RAID workers, with the flags through which they stay apart. One piece of code
// for both front ends: the window drives it with Qt timers and worker threads, `raidctl monitor`
// with a loop on the same clock.
//
// Threads: the timer handlers and InstallNewList run on the window thread; DriveDetectLook on
// the detection thread; RaidLook on the RAID worker. None of the timer handlers touches a disk:
// even the drive counts after a device change are taken on the detection thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "common/shared_state.h"
#include "common/ui_sink.h"
#include "device/device_access.h"
#include "health/smart_reading.h"

namespace raid {

inline constexpr std::uint32_t kDetectionTimerMs = 500;  // Timer4
inline constexpr std::uint32_t kPollTimerMs = 5000;      // Timer2
inline constexpr std::uint32_t kClockTimerMs = 1000;     // Timer3
inline constexpr std::uint32_t kDetectThreadSleepMs = 100;
inline constexpr std::uint32_t kRaidThreadSleepMs = 50;

// The settle delay after a device change: the message sets the counter to 16, Timer4 counts it
// up to 26 (ten ticks, 5 s) before it recounts the drives.
inline constexpr std::uint8_t kDeviceChangeStart = 16;
inline constexpr std::uint8_t kDeviceChangeSettled = 26;
inline constexpr std::uint8_t kSmartCountdownStart = 60;
// The window's monitor boxes and device buttons: "Device1" and "Device2".
inline constexpr unsigned kShownDevices = 2;

inline constexpr const char* kDetectingText = "Drive detecting";
inline constexpr const char* kNoDriveFoundText = "No Drive found! ";
// The detection text when a list holds more enclosures than the window's two boxes show:
// "Device1-Device2 shown; 3 enclosures found". Empty when all are shown.
std::string MoreEnclosuresText(std::size_t found);

// What the schedule changes in the window. raidctl shows some of it on the terminal.
class ScheduleView {
 public:
  virtual ~ScheduleView() = default;
  // The one-line detection text; it blinks while the first pass runs.
  virtual void ShowDetectionText(const std::string& text, bool visible) = 0;
  // Position 0 or 1 of the new list: its device check box (shown and checked, or hidden and
  // unchecked) and its device buttons on the Status and Upgrade pages.
  virtual void ShowDevice(unsigned position, bool shown) = 0;
  // The six page buttons and the Upgrade page's load and upgrade buttons.
  virtual void EnableControls(bool enabled) = 0;
  virtual void EnableUpgradeButton(bool enabled) = 0;
  virtual void ShowEventLogButton() = 0;
  virtual void RefreshDeviceCaptions() = 0;
  virtual void SetSmartStatusLine(const std::string& text) = 0;
};

// The work the schedule sets going. Each runs on the thread named.
class ScheduleWork {
 public:
  virtual ~ScheduleWork() = default;
  // Detection thread: the volume table and a discovery pass, filling the new list.
  virtual void RunDiscovery() = 0;
  // Window thread: the pass's list replaces the current one (with the found and removed lines
  // after the first discovery).
  virtual void InstallList() = 0;
  // RAID worker: a status poll with event detection.
  virtual void RefreshStatus() = 0;
  // RAID worker: one enclosure of the SMART pass with `feature` (data or thresholds). True when
  // the pass is over.
  virtual bool ReadSmart(std::uint8_t feature) = 0;
};

class PollingSchedule {
 public:
  // The first `watched_positions` positions of each installed list are checked (polled).
  PollingSchedule(SharedState& state, Discovery& discovery, const EnclosureRegistry& registry,
                  ScheduleWork& work, ScheduleView& view, UiSink& ui,
                  unsigned watched_positions = kShownDevices);

  // FormCreate: asks for the first pass (the detection thread counts the drives first).
  void Start();
  // A device-change message: the settle delay starts (again).
  void DeviceChanged();

  // The ticks, on the window thread (the window's Timer2, Timer3 and Timer4); raidctl's loop
  // calls them on the same clock.
  // Every 5 s while StatusPollsOn(): asks the RAID worker for a status poll.
  void RequestStatusPoll();
  // Every second while SmartCountdownOn(): counts down to the next SMART pass.
  void TickSmartCountdown();
  // Every 500 ms: the settle delay after a device change, the detection text, installing a
  // finished pass's list.
  void TickDetection();

  // One look of the detection thread: when asked, counts the drives and runs a pass if they
  // changed (always at start). True when it was asked. A pass that throws installs nothing and
  // is run again after the settle delay; the exception is passed on to the caller.
  bool DriveDetectLook();
  // One look of the RAID worker: runs RaidWork when there is a request and no pass is pending
  // or waiting to be installed. True when it ran. An item that throws is over, as if it had
  // run; the exception is passed on to the caller.
  bool RaidLook();

  // Whether the two periodic ticks run: on once the first list is installed.
  bool StatusPollsOn() const { return status_polls_on_.load(); }
  bool SmartCountdownOn() const { return smart_countdown_on_.load(); }
  std::uint8_t SmartCountdown() const { return smart_countdown_.load(); }
  const std::string& DetectionText() const { return detection_text_; }
  bool DetectionTextVisible() const { return detection_text_visible_; }

 private:
  void RaidWork();
  void ReadSmartStep(std::uint8_t request, std::uint8_t feature);
  void EndFailedPass();
  void RequestRecount();
  void Install();
  void SetDetectionText(const std::string& text, bool visible);

  SharedState& state_;
  Discovery& discovery_;
  const EnclosureRegistry& registry_;
  ScheduleWork& work_;
  ScheduleView& view_;
  UiSink& ui_;
  unsigned watched_positions_;

  std::atomic<bool> status_polls_on_{false};
  std::atomic<bool> smart_countdown_on_{false};
  std::atomic<std::uint8_t> smart_countdown_{kSmartCountdownStart};
  std::atomic<std::uint8_t> work_busy_{0};  // WorkBusy
  // The request bits of SMART passes that have begun and are not over: they stay requested.
  std::atomic<std::uint8_t> smart_under_way_{0};
  // The next look runs a pass whatever the counts say: the first one, and one after a failure.
  std::atomic<bool> pass_forced_{false};
  std::atomic<bool> pass_running_{false};
  // The detection thread found the drives unchanged; the timer enables the upgrade button.
  std::atomic<bool> recount_unchanged_{false};
  // Held by the RAID worker for each work item; the window thread only tries it, so that it
  // never waits for a disk. Installing a list must not happen under a running poll. Recursive:
  // a nested look (message pumping in tests) meets the WorkBusy guard, not a deadlock.
  std::recursive_mutex work_mutex_;
  std::string detection_text_ = kDetectingText;
  bool detection_text_visible_ = true;
};

}  // namespace raid
