// SPDX-License-Identifier: GPL-2.0-or-later
// A monitoring session as raidctl runs it, on any host: discovery with the status monitor as
// filler, status refreshes with event detection into an in-memory log, a flash read and a drive
// command with its result parts. The fuzz target runs it on a host whose answers come from the
// input; the seed recorder runs it on the simulator and keeps the answers it polled, so that a
// seed replays the session it was recorded from.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/clock.h"
#include "device/disk_system.h"
#include "device/scsi_commands.h"

namespace raid::fuzz {

// Input layout: byte 0 picks the number of enclosures (1 + byte % 3, at drives 0, 1, 2); byte 1,
// when not 0, fails every n-th read that is not a poll of the response block; bytes 2-37 are the
// INQUIRY data of every drive; the rest are the response block's contents, 512 bytes for each
// poll in turn (a short last one is padded with zeros). Once they run out, polls fail.
inline constexpr std::size_t kCountByte = 0;
inline constexpr std::size_t kReadFailureByte = 1;
inline constexpr std::size_t kInquiryOffset = 2;
inline constexpr std::size_t kHeaderSize = kInquiryOffset + kInquiryLength;
inline constexpr unsigned kMaxEnclosures = 3;

// The wall clock of every session, so that stamps and the log file name never depend on the day
// the fuzzer runs.
std::chrono::system_clock::time_point SessionStart();

struct SessionResult {
  unsigned enclosures = 0;  // found by the last discovery
  std::vector<std::string> log_lines;
};

SessionResult RunSession(DiskSystem& disks, VirtualClock& clock);

// A host of one to three enclosures (drives 0, 1, 2) whose every answer comes from the input.
class AnswerHost : public DiskSystem {
 public:
  explicit AnswerHost(std::span<const std::uint8_t> input);

  std::unique_ptr<Disk> OpenPhysicalDrive(unsigned number, OpenFailure* why = nullptr) override;
  std::unique_ptr<Disk> OpenVolume(const std::string& volume, OpenFailure* why = nullptr) override;
  std::vector<std::string> LogicalVolumes() override { return {}; }
  DriveType VolumeDriveType(const std::string&) override { return DriveType::kUnknown; }
  std::string PhysicalDrivePath(unsigned number) override;

  // What one command to any of the drives returns.
  ScsiOutcome Execute(const ScsiDataIn& command);
  // Answers not polled yet.
  std::size_t AnswersLeft() const;

 private:
  std::span<const std::uint8_t> answers_;
  std::array<std::uint8_t, kInquiryLength> inquiry_{};
  unsigned count_ = 1;
  unsigned read_failure_period_ = 0;
  std::size_t next_answer_ = 0;
  std::uint64_t other_reads_ = 0;
};

}  // namespace raid::fuzz
