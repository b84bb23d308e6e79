// SPDX-License-Identifier: GPL-2.0-or-later
// The program-wide flags through which the window thread and the worker threads stay apart.
// Each is written by one side and read by the other; atomics make that sound in C++.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace raid {

// The window's notebook pages, in their index order (SharedState::current_page).
enum Page : std::uint8_t {
  kStatusPage = 0,
  kSetupPage = 1,
  kUpgradePage = 2,
  kEmailPage = 3,
  kAboutPage = 4,
  kSmartPage = 5,
};

// A discovery pass lists at most this many enclosures (one per probed drive number).
inline constexpr unsigned kMaxEnclosures = 10;
// One bit per list position.
using PositionMask = std::uint16_t;

// Which list positions a front end watches. The window has two monitor boxes ("Device1",
// "Device2"): it polls those two positions, detects events for the first four and leaves an
// enclosure that stopped answering unchecked until the user checks it again. raidctl has nobody
// to check a box: it watches every listed enclosure and tries a silent one again by itself.
// SMART reads go to every polled position while any is checked in the window; raidctl reads only
// the checked ones, since a silent enclosure would hold up a pass with retries.
struct WatchPolicy {
  unsigned polled_positions;
  unsigned detected_positions;
  bool retry_given_up;
  bool smart_of_checked_only;
};
inline constexpr WatchPolicy kWindowWatch{2, 4, false, false};
inline constexpr WatchPolicy kEveryEnclosureWatch{kMaxEnclosures, kMaxEnclosures, true, true};

inline constexpr std::uint16_t kNoUpgradeTarget = 256;
// UpgradeTargetIndex once the enclosure under upgrade has left the list: no position, so that
// nothing reaches whichever enclosure took its place, yet not "none" until EndMaintenance.
inline constexpr std::uint16_t kUpgradeTargetGone = 255;

// Bits of WorkRequests, the RAID worker's requests.
inline constexpr std::uint8_t kRequestStatusPoll = 0x01;
inline constexpr std::uint8_t kRequestSmartThresholds = 0x08;
inline constexpr std::uint8_t kLogRunningFlag = 0x10;
inline constexpr std::uint8_t kRequestSmartData = 0x20;

struct SharedState {
  std::atomic<bool> upgrade_in_progress{false};      // UpgradeInProgress
  std::atomic<bool> upgrade_target_selected{false};  // the upgrade addresses UpgradeTargetIndex
  std::atomic<bool> shutting_down{false};            // ShuttingDown
  std::atomic<bool> initial_detection{true};         // InitialDetection
  std::atomic<bool> detection_running{false};        // DetectionRunning
  std::atomic<bool> detection_requested{false};      // DetectionRequested: run a pass
  std::atomic<bool> detection_pending{false};  // DetectionPending: a pass is requested or runs
  std::atomic<bool> detection_done{false};     // DetectionDone: its list waits to be installed
  std::atomic<bool> status_poll_busy{false};   // StatusPollBusy
  std::atomic<std::uint8_t> device_change_counter{0};                 // DeviceChangeCounter
  std::atomic<std::uint16_t> upgrade_target_index{kNoUpgradeTarget};  // UpgradeTargetIndex
  std::atomic<std::uint8_t> selected_device_index{0};                 // SelectedDeviceIndex
  std::atomic<std::uint32_t> progress_count{0};                       // ProgressCount
  std::atomic<std::uint8_t> work_requests{0};                         // WorkRequests
  std::atomic<std::uint8_t> mail_request_flags{0};  // MailRequestFlags (notify/mail_settings.h)
  // ScanCapableFirmware: the selected enclosure's firmware reports surface scans.
  std::atomic<bool> scan_capable_firmware{false};
  std::atomic<std::uint8_t> current_page{0};  // CurrentPage: the notebook page shown
  // The SMART thresholds have been read successfully; the countdown then asks for data only.
  std::atomic<bool> smart_thresholds_read{false};
  // Whether each list position is polled: in the window, its "Device1" / "Device2" monitor
  // boxes; the positions it does not watch stay unchecked.
  std::array<std::atomic<bool>, kMaxEnclosures> monitor_checked{};
};

}  // namespace raid
