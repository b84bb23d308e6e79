// SPDX-License-Identifier: GPL-2.0-or-later
// Fills and refreshes the status records: once per enclosure at discovery, and on every status
// poll for the watched enclosures (the window's two, or every listed one) that are checked.
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

namespace raid {

inline constexpr std::uint32_t kQueryPauseMs = 200;
inline constexpr int kMaxRefreshFailures = 10;
// Where silent enclosures are tried again: first this long after polling gave up on one, then
// twice as long after each try that failed, up to the longest pause.
inline constexpr std::uint64_t kRetryFirstPauseMs = 30'000;
inline constexpr std::uint64_t kRetryLongestPauseMs = 600'000;

// What runs at the end of a refresh that was not aborted: event detection, then the page.
class RefreshListener {
 public:
  virtual ~RefreshListener() = default;
  virtual void OnStatusRefreshed(PositionMask refreshed_mask) = 0;
};

// Hears, on the polling thread, when a listed enclosure stops answering (polling gave up on it,
// or a discovery found its disk still there but the enclosure silent) and when one that was
// tried again answers again.
class AnswerListener {
 public:
  virtual ~AnswerListener() = default;
  virtual void StoppedAnswering(unsigned position) = 0;
  virtual void AnswersAgain(unsigned position) = 0;
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
                EnclosureRegistry& registry, UiSink& ui, WatchPolicy watch = kWindowWatch);

  void SetListener(RefreshListener* listener) { listener_ = listener; }
  void SetAnswerListener(AnswerListener* listener) { answers_ = listener; }
  const WatchPolicy& watch() const { return watch_; }

  // Discovery has identified the enclosure at `position` on drive `slot`; its identification
  // block (of the running pass) holds the 0x11 reply.
  void InitialStatusFill(unsigned position, unsigned slot) override;

  // One status poll. Returns the mask of refreshed positions, or nothing when the poll did not
  // run or was aborted (upgrade, shutdown) and no event detection took place.
  std::optional<PositionMask> RefreshStatus();

  const ControllerStatus& Record(unsigned slot) const override { return records_.at(slot); }
  ControllerStatus& MutableRecord(unsigned slot) { return records_.at(slot); }
  PollState& Poll(unsigned position) { return poll_.at(position); }
  // Written by the polls: read it on the thread that runs them, between polls.
  const PollTally& Tally(unsigned position) const { return tally_.at(position); }
  // Whether the enclosure on drive `slot` does not answer: polling gave up on it (its box was
  // unchecked after too many failed polls), or discovery kept it listed although it was silent,
  // and none of its queries has answered since. Read it on the polling thread.
  bool NotAnswering(unsigned slot) const { return not_answering_.at(slot); }
  // Discovery kept the enclosure at `position` on drive `slot` listed without an answer.
  void KeptWithoutAnswer(unsigned position, unsigned slot) override;
  // The monitor box handler's, on the window thread: the position's failure count starts again
  // from nothing. The polls own the count; they take the request before they next look at it.
  void RequestErrorCountReset(unsigned position) { reset_requested_.at(position).store(true); }

 private:
  enum class Outcome { kSuccess, kFailure, kAborted };

  Outcome RefreshPosition(unsigned position);
  // For a position that polling gave up on: tries it again when its pause is over. True when it
  // answered and is polled again.
  bool RetryDue(unsigned position);
  void GiveUp(unsigned position, unsigned slot);
  // A query of the enclosure answered: it is no longer silent.
  void Answered(unsigned position, unsigned slot);
  void CountPoll(unsigned position, bool answered);
  bool Aborted() const;
  void TakeResetRequest(unsigned position);
  void Trace(int panel, const std::string& text);

  ControllerCommands& commands_;
  Clock& clock_;
  SharedState& state_;
  EnclosureRegistry& registry_;
  UiSink& ui_;
  WatchPolicy watch_;
  RefreshListener* listener_ = nullptr;
  AnswerListener* answers_ = nullptr;

  std::array<ControllerStatus, kDriveSlots> records_{};
  std::array<PollState, kMaxEnclosures> poll_{};
  std::array<PollTally, kMaxEnclosures> tally_{};
  std::array<bool, kDriveSlots> not_answering_{};
  std::array<std::atomic<bool>, kMaxEnclosures> reset_requested_{};
  // Per position given up on: when it is tried again and the pause after that try.
  struct Retry {
    std::uint64_t due_ms = 0;
    std::uint64_t pause_ms = 0;
  };
  std::array<std::optional<Retry>, kMaxEnclosures> retry_{};
  std::array<std::uint8_t, 512> reply_{};
  std::uint8_t tick_ = 0;
};

}  // namespace raid
