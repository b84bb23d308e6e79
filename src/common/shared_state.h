// SPDX-License-Identifier: GPL-2.0-or-later
// The program-wide flags through which the window thread and the worker threads stay apart.
// Each is written by one side and read by the other; atomics make that sound in C++.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace raid {

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

// Grouped by the side that writes them; each group's comment names the readers. Where the
// window's design has a name for a flag, it follows as a comment.
struct SharedState {
  // Set once when the program closes: every worker ends its pass early.
  std::atomic<bool> shutting_down{false};  // ShuttingDown

  // Written by the detection ticks and the discovery worker; read by everything that must not
  // talk to an enclosure while the list is being rebuilt.
  struct Detection {
    std::atomic<bool> initial{true};              // InitialDetection: no list has been shown yet
    std::atomic<bool> running{false};             // DetectionRunning
    std::atomic<bool> requested{false};           // DetectionRequested: run a pass
    std::atomic<bool> pending{false};             // DetectionPending: a pass is requested or runs
    std::atomic<bool> done{false};                // DetectionDone: its list waits to be installed
    std::atomic<std::uint8_t> change_counter{0};  // DeviceChangeCounter: ticks since a change
  } detection;

  // Written by the polling ticks and the front end; read by the RAID worker.
  struct Polling {
    std::atomic<std::uint8_t> work_requests{0};  // WorkRequests (the kRequest* bits above)
    std::atomic<bool> status_poll_busy{false};   // StatusPollBusy
    // Whether each list position is polled: in the window, its "Device1" / "Device2" monitor
    // boxes; the positions it does not watch stay unchecked. raidctl checks every position.
    std::array<std::atomic<bool>, kMaxEnclosures> monitor_checked{};
    // The SMART thresholds have been read successfully; the countdown then asks for data only.
    std::atomic<bool> smart_thresholds_read{false};
    // Someone is looking at the SMART readings (the window's SMART page): the countdown shows
    // its status line, and each finished data pass asks for a redraw.
    std::atomic<bool> smart_readings_shown{false};
  } polling;

  // The enclosure the front end addresses: the one its pages show, or raidctl's --device.
  struct Target {
    std::atomic<std::uint8_t> selected_index{0};  // SelectedDeviceIndex
    // ScanCapableFirmware: the selected enclosure's firmware reports surface scans.
    std::atomic<bool> scan_capable_firmware{false};
  } target;

  // Written by the firmware upgrade; read by polling, detection and the progress display.
  struct Upgrade {
    std::atomic<bool> in_progress{false};      // UpgradeInProgress
    std::atomic<bool> target_selected{false};  // the upgrade addresses target_index
    std::atomic<std::uint16_t> target_index{kNoUpgradeTarget};  // UpgradeTargetIndex
    std::atomic<std::uint32_t> progress_count{0};               // ProgressCount
  } upgrade;

  // Written by the front end and the alert path; read by the mail worker.
  struct Mail {
    std::atomic<std::uint8_t> request_flags{0};  // MailRequestFlags (notify/mail_settings.h)
  } mail;
};

}  // namespace raid
