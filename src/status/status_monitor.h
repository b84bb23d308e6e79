// SPDX-License-Identifier: GPL-2.0-or-later
// Fills and refreshes the status records: once per enclosure at discovery, and on every status
// poll for the first two enclosures whose monitor box is checked.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

#include "common/clock.h"
#include "common/shared_state.h"
#include "common/ui_sink.h"
#include "device/controller_commands.h"
#include "device/discovery.h"
#include "device/enclosure_list.h"
#include "status/controller_status.h"
#include "status/event_detector.h"

namespace raid {

inline constexpr std::uint32_t kQueryPauseMs = 200;
inline constexpr unsigned kRefreshedPositions = 2;  // only "Device1" and "Device2" are polled
inline constexpr unsigned kPollStatePositions = 4;
inline constexpr int kMaxRefreshFailures = 10;

// What runs at the end of a refresh that was not aborted: event detection, then the page.
class RefreshListener {
 public:
  virtual ~RefreshListener() = default;
  virtual void OnStatusRefreshed(std::uint8_t refreshed_mask) = 0;
};

// How the polls of one list position went, counted from the start whatever enclosure held the
// position, for reports from outside the schedule (raidctl's metrics). A poll held back to retry
// a failing enclosure on every second tick counts as neither.
struct PollTally {
  std::uint64_t answered = 0;
  std::uint64_t failed = 0;
  bool last_answered = false;  // the position's last poll that ran answered
  std::chrono::system_clock::time_point last_answered_at{};
};

struct PollState {
  bool rebuild_follow = false;  // the next refresh asks for the progress first
  int error_count = 0;
};

class StatusMonitor : public InitialStatusFiller, public StatusRecords {
 public:
  StatusMonitor(ControllerCommands& commands, Clock& clock, SharedState& state,
                EnclosureRegistry& registry, UiSink& ui);

  void SetListener(RefreshListener* listener) { listener_ = listener; }

  // Discovery has identified the enclosure at `position` on drive `slot`; its identification
  // block (of the running pass) holds the 0x11 reply.
  void InitialStatusFill(unsigned position, unsigned slot) override;

  // One status poll. Returns the mask of refreshed positions, or nothing when the poll did not
  // run or was aborted (upgrade, shutdown) and no event detection took place.
  std::optional<std::uint8_t> RefreshStatus();

  const ControllerStatus& Record(unsigned slot) const override { return records_.at(slot); }
  ControllerStatus& MutableRecord(unsigned slot) { return records_.at(slot); }
  PollState& Poll(unsigned position) { return poll_.at(position); }
  // Written by the polls: read it on the thread that runs them, between polls.
  const PollTally& Tally(unsigned position) const { return tally_.at(position); }
  // Whether polling gave up on the enclosure on drive `slot` (its box was unchecked after too
  // many failed polls) and none of its polls has answered since. Read it on the polling thread.
  bool GaveUp(unsigned slot) const { return gave_up_.at(slot); }
  // The monitor box handler's, on the window thread: the position's failure count starts again
  // from nothing. The polls own the count; they take the request before they next look at it.
  void RequestErrorCountReset(unsigned position) { reset_requested_.at(position).store(true); }

 private:
  enum class Outcome { kSuccess, kFailure, kAborted };

  Outcome RefreshPosition(unsigned position);
  void CountPoll(unsigned position, bool answered);
  bool Aborted() const;
  void TakeResetRequest(unsigned position);
  void Trace(int panel, const std::string& text);

  ControllerCommands& commands_;
  Clock& clock_;
  SharedState& state_;
  EnclosureRegistry& registry_;
  UiSink& ui_;
  RefreshListener* listener_ = nullptr;

  std::array<ControllerStatus, kDriveSlots> records_{};
  std::array<PollState, kPollStatePositions> poll_{};
  std::array<PollTally, kRefreshedPositions> tally_{};
  std::array<bool, kDriveSlots> gave_up_{};
  std::array<std::atomic<bool>, kRefreshedPositions> reset_requested_{};
  std::array<std::uint8_t, 512> reply_{};
  std::uint8_t tick_ = 0;
};

}  // namespace raid
