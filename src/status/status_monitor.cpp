// SPDX-License-Identifier: GPL-2.0-or-later
#include "status/status_monitor.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "common/bytes.h"

namespace raid {
namespace {

// Controller information reply (0x11), also the identification block.
constexpr std::size_t kInfoTemperature = 127;
constexpr std::size_t kInfoFanSpeed = 128;       // 16 bits, most significant first
constexpr std::size_t kInfoArrayCapacity = 200;  // 48 bits, least significant first

// A controller that keeps reporting an activity that its progress reply denies would make the
// passes alternate for ever; three passes cover every consistent sequence.
constexpr int kMaxPasses = 3;

// Status-bar panels of the poll trace.
constexpr int kStagePanel = 0;
constexpr int kQueryPanel = 1;
constexpr int kCountPanel = 2;
constexpr int kTickPanel = 3;

// StatusPollBusy lasts as long as this: a poll that throws must not leave it set, or no poll
// would be asked for again.
class PollBusy {
 public:
  explicit PollBusy(std::atomic<bool>& busy) : busy_(busy) { busy_.store(true); }
  ~PollBusy() { busy_.store(false); }
  PollBusy(const PollBusy&) = delete;
  PollBusy& operator=(const PollBusy&) = delete;

 private:
  std::atomic<bool>& busy_;
};

std::string Hex2(unsigned value) {
  return HexUpper(value & 0xFF, 2);
}

void CopySensors(std::span<const std::uint8_t, 512> info, ControllerStatus& record) {
  record.SetFanSpeed(static_cast<std::uint16_t>(ReadBigEndian(info, kInfoFanSpeed, 2)));
  record.SetTemperature(info[kInfoTemperature]);
}

}  // namespace

StatusMonitor::StatusMonitor(ControllerCommands& commands, Clock& clock, SharedState& state,
                             EnclosureRegistry& registry, UiSink& ui, WatchPolicy watch)
    : commands_(commands),
      clock_(clock),
      state_(state),
      registry_(registry),
      ui_(ui),
      watch_{std::min(watch.polled_positions, kMaxEnclosures),
             std::min(watch.detected_positions, kMaxEnclosures), watch.retry_given_up,
             watch.smart_of_checked_only} {}

void StatusMonitor::InitialStatusFill(unsigned position, unsigned slot) {
  ControllerStatus& record = records_.at(slot);
  const EnclosureInfo& info = registry_.fresh.at(position);
  const IdentificationBlock& identification = registry_.running_blocks.at(slot);
  const bool filled_before = record.IsFilledFor(slot);

  clock_.SleepMs(kQueryPauseMs);
  if (commands_.QueryController(kQueryArrayStatus, reply_) == kResultDone) {
    Answered(position, slot);
    record.bytes[status_layout::kSlot] = static_cast<std::uint8_t>(slot);
    record.bytes[status_layout::kValidMarker] = status_layout::kValid;
    const std::uint8_t activity = DecodeArrayStatus(reply_, identification, record);
    if (!filled_before) {
      for (unsigned drive = 0; drive < 2; ++drive) {
        if ((record.DriveFlags() & DriveFlag(kDriveAbsent, drive)) != 0) {
          record.ClearDriveDetails(drive);
        }
      }
    }
    if (activity != 0 && position < kMaxEnclosures) poll_[position].rebuild_follow = true;

    if (record.Mode() == kModeMirroring) {
      clock_.SleepMs(kQueryPauseMs);
      if (commands_.QueryController(kQueryRebuildProgress, reply_) == kResultDone) {
        record.SetArrayCapacity(RebuildTotalSectors(reply_));
        record.SetProgress(activity != 0 ? ProgressPercent(reply_) : 0);
      }
    } else if (info.model_from_controller) {
      record.SetArrayCapacity(ReadLittleEndian(identification, kInfoArrayCapacity, 6));
    } else {
      record.SetArrayCapacity(2 * std::min(record.DriveCapacity(0), record.DriveCapacity(1)));
    }
  }

  if (info.sensor_capable) {
    record.bytes[status_layout::kSensorFlags] = kSensorsReported;
    CopySensors(identification, record);
  } else {
    record.bytes[status_layout::kSensorFlags] = kSensorsNotReported;
  }
}

void StatusMonitor::KeptWithoutAnswer(unsigned position, unsigned slot) {
  // The record keeps what the last answer said; the page and the reports say it is silent.
  const bool before = not_answering_.at(slot);
  not_answering_[slot] = true;
  if (!before && answers_ != nullptr) answers_->StoppedAnswering(position);
}

void StatusMonitor::GiveUp(unsigned position, unsigned slot) {
  poll_[position].error_count = 0;
  const bool told = std::exchange(not_answering_[slot], true);  // kept silent by a discovery
  state_.polling.monitor_checked[position].store(false);
  if (watch_.retry_given_up)
    retry_[position] = Retry{clock_.NowMs() + kRetryFirstPauseMs, kRetryFirstPauseMs};
  ui_.SetMonitorChecked(static_cast<int>(position), false);
  if (!told && answers_ != nullptr) answers_->StoppedAnswering(position);
}

void StatusMonitor::Answered(unsigned position, unsigned slot) {
  if (std::exchange(not_answering_[slot], false) && answers_ != nullptr) {
    answers_->AnswersAgain(position);
  }
}

bool StatusMonitor::RetryDue(unsigned position) {
  std::optional<Retry>& retry = retry_[position];
  const std::uint64_t now = clock_.NowMs();
  if (!retry || now < retry->due_ms) return false;
  poll_[position].rebuild_follow = false;
  const Outcome outcome = RefreshPosition(position);
  if (outcome == Outcome::kAborted) return false;
  if (outcome == Outcome::kFailure) {
    retry->pause_ms = std::min(retry->pause_ms * 2, kRetryLongestPauseMs);
    retry->due_ms = now + retry->pause_ms;
    return false;
  }
  retry.reset();
  poll_[position].error_count = 0;
  state_.polling.monitor_checked[position].store(true);
  Answered(position, DriveNumberOf(registry_.current[position].device_code));
  return true;
}

void StatusMonitor::TakeResetRequest(unsigned position) {
  if (reset_requested_[position].exchange(false)) poll_[position].error_count = 0;
}

bool StatusMonitor::Aborted() const {
  return state_.upgrade.in_progress.load() || state_.shutting_down.load();
}

void StatusMonitor::Trace(int panel, const std::string& text) {
  ui_.SetPanelText(panel, text);
}

std::optional<PositionMask> StatusMonitor::RefreshStatus() {
  ++tick_;
  if (state_.detection.change_counter.load() != 0 || state_.detection.running.load() ||
      state_.upgrade.in_progress.load() || state_.shutting_down.load()) {
    return std::nullopt;
  }
  const PollBusy busy(state_.polling.status_poll_busy);
  const unsigned count = static_cast<unsigned>(registry_.current.size());
  Trace(kTickPanel, "G = 2x, " + Hex2(tick_));
  Trace(kCountPanel, "SC = 1x" + Hex2(count) + Hex2(tick_));
  Trace(kStagePanel, "0x," + Hex2(tick_));

  PositionMask mask = 0;
  for (unsigned position = 0; position < std::min(count, watch_.polled_positions); ++position) {
    const auto bit = static_cast<PositionMask>(1U << position);
    if (position == state_.upgrade.target_index.load()) continue;
    if (!state_.polling.monitor_checked[position].load()) {
      if (!state_.detection.initial.load() && RetryDue(position)) {
        CountPoll(position, true);
        mask |= bit;
      }
      if (Aborted()) return std::nullopt;
      continue;
    }
    retry_[position].reset();  // checked again (a new list, or the user's click)
    Trace(kStagePanel, "1x," + Hex2(tick_));
    if (state_.detection.initial.load()) {
      mask |= bit;  // discovery has just read its status
      CountPoll(position, true);
      continue;
    }
    PollState& poll = poll_[position];
    TakeResetRequest(position);
    if (poll.error_count % 2 == 1) {  // a failing enclosure is retried every second tick
      ++poll.error_count;
      Trace(kStagePanel, "1y," + Hex2(tick_));
      continue;
    }
    const Outcome outcome = RefreshPosition(position);
    if (outcome == Outcome::kAborted) return std::nullopt;
    CountPoll(position, outcome == Outcome::kSuccess);
    // A click during the exchange counts too: it must not be undone by the failure just seen.
    TakeResetRequest(position);
    const unsigned slot = DriveNumberOf(registry_.current[position].device_code);
    if (outcome == Outcome::kSuccess) {
      mask |= bit;
      poll.error_count = 0;
      Answered(position, slot);
    } else if (++poll.error_count > kMaxRefreshFailures) {
      GiveUp(position, slot);
    }
  }

  Trace(kStagePanel, "5x," + Hex2(tick_));
  if (listener_ != nullptr) listener_->OnStatusRefreshed(mask);
  return mask;
}

void StatusMonitor::CountPoll(unsigned position, bool answered) {
  PollTally& tally = tally_[position];
  tally.last_answered = answered;
  if (answered) {
    ++tally.answered;
    tally.last_answered_at = clock_.WallNow();
  } else {
    ++tally.failed;
  }
}

StatusMonitor::Outcome StatusMonitor::RefreshPosition(unsigned position) {
  const EnclosureInfo& info = registry_.current[position];
  const unsigned slot = DriveNumberOf(info.device_code);
  ControllerStatus& record = records_[slot];
  const IdentificationBlock& identification = registry_.CurrentBlock(position);
  PollState& poll = poll_[position];
  const auto query = [&](std::uint8_t code) {
    clock_.SleepMs(kQueryPauseMs);
    return commands_.QueryControllerOn(info.Ref(), code, reply_);
  };

  if (info.sensor_capable) {
    Trace(kStagePanel, "2x," + Hex2(tick_));
    if (query(kQueryControllerInfo) == kResultDone) CopySensors(reply_, record);
    if (Aborted()) return Outcome::kAborted;
  }

  Trace(kStagePanel, "3x," + Hex2(tick_));
  for (int pass = 1; pass <= kMaxPasses; ++pass) {
    Trace(kStagePanel, Hex2(pass) + ",yy," + Hex2(tick_));
    if (poll.rebuild_follow) {
      Trace(kQueryPanel, "y0," + Hex2(pass));
      const ResultCode result = query(kQueryRebuildProgress);
      Trace(kQueryPanel, "y1," + Hex2(pass));
      if (Aborted()) return Outcome::kAborted;
      if (result != kResultDone) return Outcome::kFailure;
      if (RebuildRunning(reply_)) {
        record.SetProgress(ProgressPercent(reply_));
        Trace(kStagePanel, Hex2(pass) + ",yz," + Hex2(tick_));
        break;
      }
      poll.rebuild_follow = false;
    }
    Trace(kQueryPanel, "y2," + Hex2(pass));
    const ResultCode result = query(kQueryArrayStatus);
    Trace(kQueryPanel, "y3," + Hex2(pass));
    if (Aborted()) return Outcome::kAborted;
    if (result != kResultDone) return Outcome::kFailure;
    const std::uint8_t activity = DecodeArrayStatus(reply_, identification, record);
    Trace(kStagePanel, Hex2(pass) + ",yz," + Hex2(tick_));
    if (activity == 0) break;
    poll.rebuild_follow = true;
  }
  Trace(kStagePanel, "4x," + Hex2(tick_));
  return Outcome::kSuccess;
}

}  // namespace raid
