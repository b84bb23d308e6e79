// SPDX-License-Identifier: GPL-2.0-or-later
#include "answer_session.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "common/bytes.h"
#include "common/shared_state.h"
#include "device/device_access.h"
#include "device/transport.h"
#include "events/alert_sink.h"
#include "events/event_detector.h"
#include "events/event_log.h"
#include "status/status_monitor.h"

namespace raid::fuzz {
namespace {

// Panels outside the five of the status bar are a fault of the caller: at() makes them a crash.
class PanelUiSink : public UiSink {
 public:
  void SetPanelText(int panel, const std::string& text) override {
    panels_.at(static_cast<std::size_t>(panel)) = text;
  }
  void ShowMessage(const MessageBoxRequest&) override {}
  void SetMonitorChecked(int position, bool) override {
    static_cast<void>(monitor_.at(static_cast<std::size_t>(position)));
  }

 private:
  std::array<std::string, 5> panels_;
  std::array<bool, 2> monitor_{};
};

class MemoryLogStore : public LogFileStore {
 public:
  Presence Probe(const std::string& name) override {
    return files_.count(name) != 0 ? Presence::kPresent : Presence::kMissing;
  }
  std::optional<LogFileLines> Load(const std::string& name) override {
    const std::vector<std::string>& lines = files_.at(name);
    return LogFileLines{lines, false, false, LogFileMark{true, 0, 0, lines.size()}};
  }
  std::optional<LogFileLines> Append(const std::string& name, const std::vector<std::string>& lines,
                                     const LogFileMark& mark) override {
    std::vector<std::string>& file = files_[name];
    const bool continued = mark.known && mark.end <= file.size();
    const std::size_t from = continued ? mark.end : 0;
    file.insert(file.end(), lines.begin(), lines.end());
    return LogFileLines{
        std::vector<std::string>(file.begin() + static_cast<std::ptrdiff_t>(from), file.end()),
        continued, false, LogFileMark{true, 0, 0, file.size()}};
  }
  const std::string& last_error() const override { return no_error_; }

 private:
  std::map<std::string, std::vector<std::string>> files_;
  std::string no_error_;
};

// What raidctl's session does at the end of a refresh.
class DetectingListener : public RefreshListener {
 public:
  DetectingListener(EventDetector& detector, SharedState& state)
      : detector_(detector), state_(state) {}
  void OnStatusRefreshed(PositionMask refreshed_mask) override {
    detector_.DetectEvents(refreshed_mask);
    if (refreshed_mask != 0) state_.detection.initial.store(false);
  }

 private:
  EventDetector& detector_;
  SharedState& state_;
};

class AnswerDisk : public Disk {
 public:
  AnswerDisk(AnswerHost& host, unsigned number) : host_(host), number_(number) {}
  ScsiOutcome ExecuteDataIn(const ScsiDataIn& command) override { return host_.Execute(command); }
  std::optional<DiskExtent> VolumeDiskExtent() override { return std::nullopt; }
  DiskIdentity Identity() override { return "answer-disk-" + std::to_string(number_); }

 private:
  AnswerHost& host_;
  unsigned number_;
};

constexpr std::uint64_t kPollIntervalMs = 5000;
constexpr unsigned kRefreshes = 3;

}  // namespace

std::chrono::system_clock::time_point SessionStart() {
  // 2026-03-02 09:30:00 UTC.
  return std::chrono::system_clock::time_point{} + std::chrono::seconds(1772443800);
}

SessionResult RunSession(DiskSystem& disks, VirtualClock& clock) {
  SharedState state;
  PanelUiSink ui;
  DeviceAccess device(disks, clock, state);
  StatusMonitor monitor(device.commands(), clock, state, device.registry(), ui);
  device.discovery().SetStatusFiller(&monitor);
  EventLog log;
  MemoryLogStore store;
  RecordingAlertSink alerts;
  EventDetector detector(log, store, clock, state, device.registry(), monitor, alerts);
  DetectingListener listener(detector, state);
  monitor.SetListener(&listener);

  // As the detection thread and timer do it.
  const auto discover = [&] {
    Discovery& discovery = device.discovery();
    state.detection.running.store(true);
    discovery.CountLogicalDrives();
    discovery.CountPhysicalDrives();
    discovery.RunDiscovery(ui);
    const std::size_t old_count = device.registry().current.size();
    const std::vector<ListChange> changes =
        InstallNewList(device.registry(), state.detection.initial.load());
    const std::size_t count = device.registry().current.size();
    for (unsigned position = 0; position < state.polling.monitor_checked.size(); ++position) {
      state.polling.monitor_checked[position].store(position < count);
    }
    if (count != old_count) detector.AddDiscoveryChanges(changes);
    state.detection.running.store(false);
  };
  const auto refresh = [&] {
    clock.Advance(kPollIntervalMs);
    monitor.RefreshStatus();
  };

  discover();
  for (unsigned k = 0; k < kRefreshes; ++k)
    refresh();

  // Outside discovery a flash read addresses the upgrade target.
  std::array<std::uint8_t, 256> flash_head{};
  state.upgrade.target_index.store(0);
  device.flash().FlashRead(0, static_cast<std::uint32_t>(flash_head.size()), flash_head, ui);
  state.upgrade.target_index.store(kNoUpgradeTarget);

  // IDENTIFY DEVICE of HDD1, then its result in four parts.
  std::array<std::uint8_t, 512> drive_result{};
  if (device.commands().DriveAtaCommand(kAtaIdentify, 0, drive_result) == kResultDone) {
    for (std::uint8_t part = 1; part <= 4; ++part) {
      if (device.commands().DriveControlCommand(kAtaIdentify, 0, part, drive_result) !=
          kResultDone) {
        break;
      }
    }
  }

  // A second pass compares what the controllers say now with the installed list.
  discover();
  refresh();

  return {static_cast<unsigned>(device.registry().current.size()), log.lines};
}

AnswerHost::AnswerHost(std::span<const std::uint8_t> input) {
  const auto at = [&](std::size_t k) -> std::uint8_t { return k < input.size() ? input[k] : 0; };
  count_ = 1 + at(kCountByte) % kMaxEnclosures;
  read_failure_period_ = at(kReadFailureByte);
  for (std::size_t k = 0; k < kInquiryLength; ++k)
    inquiry_[k] = at(kInquiryOffset + k);
  if (input.size() > kHeaderSize) answers_ = input.subspan(kHeaderSize);
}

std::unique_ptr<Disk> AnswerHost::OpenPhysicalDrive(unsigned number, OpenFailure* why) {
  if (number >= count_) {
    if (why != nullptr) *why = OpenFailure::kNotFound;
    return nullptr;
  }
  return std::make_unique<AnswerDisk>(*this, number);
}

std::unique_ptr<Disk> AnswerHost::OpenVolume(const std::string&, OpenFailure* why) {
  if (why != nullptr) *why = OpenFailure::kNotFound;
  return nullptr;
}

std::string AnswerHost::PhysicalDrivePath(unsigned number) {
  return "answer-disk-" + std::to_string(number);
}

std::size_t AnswerHost::AnswersLeft() const {
  return next_answer_ >= answers_.size()
             ? 0
             : (answers_.size() - next_answer_ + kBlockSize - 1) / kBlockSize;
}

ScsiOutcome AnswerHost::Execute(const ScsiDataIn& command) {
  // Read straight from the CDB: a session makes thousands of knock reads.
  const std::uint8_t opcode = command.cdb[0];
  if (opcode == kOpInquiry) {
    const std::size_t length = std::min(command.data.size(), inquiry_.size());
    std::memcpy(command.data.data(), inquiry_.data(), length);
    return ScsiOutcome::Completed();
  }
  if (opcode != kOpRead10) return ScsiOutcome::Completed(false);
  const std::uint64_t lba = ReadBigEndian(command.cdb, 2, 4);
  if (lba == kResponseBlock) {
    if (next_answer_ >= answers_.size()) return ScsiOutcome::Completed(false);
    const std::size_t length = std::min(kBlockSize, answers_.size() - next_answer_);
    std::memset(command.data.data(), 0, command.data.size());
    std::memcpy(command.data.data(), answers_.data() + next_answer_, length);
    next_answer_ += kBlockSize;
    return ScsiOutcome::Completed();
  }
  // The program ignores what the knock reads return; they leave the buffer as it was.
  ++other_reads_;
  if (read_failure_period_ != 0 && other_reads_ % read_failure_period_ == 0) {
    return ScsiOutcome::Completed(false);
  }
  return ScsiOutcome::Completed();
}

}  // namespace raid::fuzz
