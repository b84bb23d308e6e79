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
  // The "Device1" / "Device2" monitor boxes: only checked enclosures are polled.
  std::array<std::atomic<bool>, 2> monitor_checked{};
};

}  // namespace raid
