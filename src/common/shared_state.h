// The program-wide flags through which the window thread and the worker threads stay apart.
// Each is written by one side and read by the other; atomics make that sound in C++.
#pragma once

#include <atomic>
#include <cstdint>

namespace raid {

inline constexpr std::uint16_t kNoUpgradeTarget = 256;

struct SharedState {
  std::atomic<bool> upgrade_in_progress{false};     // UpgradeInProgress
  std::atomic<bool> upgrade_target_selected{false};  // the upgrade addresses UpgradeTargetIndex
  std::atomic<bool> shutting_down{false};            // ShuttingDown
  std::atomic<bool> initial_detection{true};         // InitialDetection
  std::atomic<bool> detection_running{false};        // DetectionRunning
  std::atomic<bool> status_poll_busy{false};         // StatusPollBusy
  std::atomic<std::uint8_t> device_change_counter{0};         // DeviceChangeCounter
  std::atomic<std::uint16_t> upgrade_target_index{kNoUpgradeTarget};  // UpgradeTargetIndex
  std::atomic<std::uint8_t> selected_device_index{0};         // SelectedDeviceIndex
  std::atomic<std::uint32_t> progress_count{0};               // ProgressCount
};

}  // namespace raid
