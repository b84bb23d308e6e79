// SPDX-License-Identifier: GPL-2.0-or-later
// Everything the simulated host was asked, in order, across all drives and volumes, with the
// packets the controllers decoded and the protocol violations found on the way: tests assert
// exact sequences, that only READ(10) and INQUIRY reached a disk, and that no two exchanges
// interleaved. Safe to use from several threads.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "knock_decoder.h"

namespace raid::sim {

// kExtents: a volume's disk extents asked for; kQuery: the volume list, a volume's drive type or
// a drive's path; kOther: a CDB that is neither READ(10) nor INQUIRY.
enum class CallKind { kOpen, kOpenFailed, kClose, kRead, kInquiry, kExtents, kQuery, kOther };

// Who was addressed: a physical drive number, or a volume by name.
struct Target {
  std::optional<unsigned> drive;
  std::string volume;

  static Target Drive(unsigned number) { return {number, {}}; }
  static Target Volume(std::string name) { return {std::nullopt, std::move(name)}; }
  std::string Describe() const;
};

struct RecordedCall {
  std::uint64_t sequence = 0;
  std::uint64_t clock_ms = 0;
  Target target;
  std::uint64_t handle = 0;  // 0 for failed opens
  CallKind kind = CallKind::kOther;
  std::uint32_t lba = 0;
  std::uint32_t blocks = 0;
  bool ok = true;
};

struct ProtocolViolation {
  std::uint64_t sequence = 0;
  std::uint64_t clock_ms = 0;
  Target target;
  std::uint64_t handle = 0;
  std::string text;
};

struct ReceivedPacket {
  std::uint64_t sequence = 0;
  std::uint64_t clock_ms = 0;
  unsigned drive = 0;
  DecodedPacket packet;
};

struct DecodeError {
  std::uint64_t sequence = 0;
  std::uint64_t clock_ms = 0;
  unsigned drive = 0;
  std::string text;
};

class Recorder {
 public:
  // --- recording (the host and the controllers call these) ---
  std::uint64_t NewHandleId();
  void RecordOpen(std::uint64_t clock_ms, const Target& target, std::uint64_t handle);
  void RecordOpenFailed(std::uint64_t clock_ms, const Target& target);
  void RecordClose(std::uint64_t clock_ms, const Target& target, std::uint64_t handle);
  // A data-in command on an open handle; checks that exchanges do not interleave.
  void RecordIo(std::uint64_t clock_ms, const Target& target, std::uint64_t handle, CallKind kind,
                std::uint32_t lba, std::uint32_t blocks, bool ok);
  void RecordQuery(std::uint64_t clock_ms, const Target& target);
  void RecordViolation(std::uint64_t clock_ms, const Target& target, std::uint64_t handle,
                       std::string text);
  void RecordPacket(std::uint64_t clock_ms, unsigned drive, const DecodedPacket& packet);
  void RecordDecodeError(std::uint64_t clock_ms, unsigned drive, std::string text);

  // --- queries for tests ---
  std::vector<RecordedCall> Calls() const;
  std::vector<RecordedCall> CallsFor(unsigned drive) const;
  std::vector<RecordedCall> CallsFor(const std::string& volume) const;
  std::size_t ReadCount() const;
  std::size_t ReadCount(unsigned drive) const;
  // The block addresses read from a drive, in order.
  std::vector<std::uint32_t> ReadLbas(unsigned drive) const;
  std::vector<ReceivedPacket> Packets(unsigned drive) const;
  std::vector<DecodeError> DecodeErrors() const;
  std::vector<ProtocolViolation> Violations() const;
  std::vector<std::string> ViolationTexts() const;
  // Keeps at most about `max_entries` of each kind of record, dropping the oldest (0: keep all).
  // A long demo session sets it so that memory does not grow without end.
  void SetRetention(std::size_t max_entries);
  // Forgets what was recorded. Open handles stay known, with their use: an exchange that is
  // still open across a Clear still counts against an interleaving one.
  void Clear();

 private:
  struct OpenHandle {
    Target target;
    bool had_io = false;
  };

  std::uint64_t NextSequence() { return ++sequence_; }
  void TrimLocked();

  mutable std::mutex mutex_;
  std::uint64_t sequence_ = 0;
  std::size_t retention_ = 0;
  std::uint64_t last_handle_ = 0;
  std::map<std::uint64_t, OpenHandle> open_;
  // Pairs of handles already reported as interleaved, so a long overlap gives one entry.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> reported_overlaps_;
  std::vector<RecordedCall> calls_;
  std::vector<ProtocolViolation> violations_;
  std::vector<ReceivedPacket> packets_;
  std::vector<DecodeError> decode_errors_;
};

}  // namespace raid::sim
