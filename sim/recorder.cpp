// SPDX-License-Identifier: GPL-2.0-or-later
#include "recorder.h"

#include <algorithm>
#include <utility>

namespace raid::sim {

std::string Target::Describe() const {
  if (drive) return "drive " + std::to_string(*drive);
  return "volume " + volume;
}

std::uint64_t Recorder::NewHandleId() {
  std::lock_guard lock(mutex_);
  return ++last_handle_;
}

void Recorder::RecordOpen(std::uint64_t clock_ms, const Target& target, std::uint64_t handle) {
  std::lock_guard lock(mutex_);
  open_[handle] = OpenHandle{target, false};
  calls_.push_back({NextSequence(), clock_ms, target, handle, CallKind::kOpen, 0, 0, true});
  TrimLocked();
}

void Recorder::RecordOpenFailed(std::uint64_t clock_ms, const Target& target) {
  std::lock_guard lock(mutex_);
  calls_.push_back({NextSequence(), clock_ms, target, 0, CallKind::kOpenFailed, 0, 0, false});
  TrimLocked();
}

void Recorder::RecordClose(std::uint64_t clock_ms, const Target& target, std::uint64_t handle) {
  std::lock_guard lock(mutex_);
  open_.erase(handle);
  calls_.push_back({NextSequence(), clock_ms, target, handle, CallKind::kClose, 0, 0, true});
  TrimLocked();
}

void Recorder::RecordIo(std::uint64_t clock_ms, const Target& target, std::uint64_t handle,
                        CallKind kind, std::uint32_t lba, std::uint32_t blocks, bool ok) {
  std::lock_guard lock(mutex_);
  calls_.push_back({NextSequence(), clock_ms, target, handle, kind, lba, blocks, ok});
  for (const auto& [other, state] : open_) {
    if (other == handle || !state.had_io) continue;
    const auto pair = std::make_pair(std::min(handle, other), std::max(handle, other));
    if (std::find(reported_overlaps_.begin(), reported_overlaps_.end(), pair) !=
        reported_overlaps_.end()) {
      continue;
    }
    reported_overlaps_.push_back(pair);
    violations_.push_back({NextSequence(), clock_ms, target, handle,
                           "interleaving: handle " + std::to_string(handle) + " (" +
                               target.Describe() + ") was used while handle " +
                               std::to_string(other) + " (" + state.target.Describe() +
                               ") was open and had been used"});
  }
  if (auto it = open_.find(handle); it != open_.end()) it->second.had_io = true;
  TrimLocked();
}

void Recorder::RecordQuery(std::uint64_t clock_ms, const Target& target) {
  std::lock_guard lock(mutex_);
  calls_.push_back({NextSequence(), clock_ms, target, 0, CallKind::kQuery, 0, 0, true});
  TrimLocked();
}

void Recorder::RecordViolation(std::uint64_t clock_ms, const Target& target, std::uint64_t handle,
                               std::string text) {
  std::lock_guard lock(mutex_);
  violations_.push_back({NextSequence(), clock_ms, target, handle, std::move(text)});
}

void Recorder::RecordPacket(std::uint64_t clock_ms, unsigned drive, const DecodedPacket& packet) {
  std::lock_guard lock(mutex_);
  packets_.push_back({NextSequence(), clock_ms, drive, packet});
  TrimLocked();
}

void Recorder::RecordDecodeError(std::uint64_t clock_ms, unsigned drive, std::string text) {
  std::lock_guard lock(mutex_);
  decode_errors_.push_back({NextSequence(), clock_ms, drive, std::move(text)});
  TrimLocked();
}

std::vector<RecordedCall> Recorder::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<RecordedCall> Recorder::CallsFor(unsigned drive) const {
  std::lock_guard lock(mutex_);
  std::vector<RecordedCall> out;
  for (const RecordedCall& call : calls_) {
    if (call.target.drive == drive) out.push_back(call);
  }
  return out;
}

std::vector<RecordedCall> Recorder::CallsFor(const std::string& volume) const {
  std::lock_guard lock(mutex_);
  std::vector<RecordedCall> out;
  for (const RecordedCall& call : calls_) {
    if (!call.target.drive && call.target.volume == volume) out.push_back(call);
  }
  return out;
}

std::size_t Recorder::ReadCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(calls_.begin(), calls_.end(),
                    [](const RecordedCall& c) { return c.kind == CallKind::kRead; }));
}

std::size_t Recorder::ReadCount(unsigned drive) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count_if(
      calls_.begin(), calls_.end(),
      [&](const RecordedCall& c) { return c.kind == CallKind::kRead && c.target.drive == drive; }));
}

std::vector<std::uint32_t> Recorder::ReadLbas(unsigned drive) const {
  std::lock_guard lock(mutex_);
  std::vector<std::uint32_t> out;
  for (const RecordedCall& call : calls_) {
    if (call.kind == CallKind::kRead && call.target.drive == drive) out.push_back(call.lba);
  }
  return out;
}

std::vector<ReceivedPacket> Recorder::Packets(unsigned drive) const {
  std::lock_guard lock(mutex_);
  std::vector<ReceivedPacket> out;
  for (const ReceivedPacket& p : packets_) {
    if (p.drive == drive) out.push_back(p);
  }
  return out;
}

std::vector<DecodeError> Recorder::DecodeErrors() const {
  std::lock_guard lock(mutex_);
  return decode_errors_;
}

std::vector<ProtocolViolation> Recorder::Violations() const {
  std::lock_guard lock(mutex_);
  return violations_;
}

std::vector<std::string> Recorder::ViolationTexts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const ProtocolViolation& v : violations_)
    out.push_back(v.text);
  return out;
}

void Recorder::SetRetention(std::size_t max_entries) {
  std::lock_guard lock(mutex_);
  retention_ = max_entries;
  TrimLocked();
}

namespace {

// Trims in batches, so that a full log costs one move per `limit` records, not one per record.
template <typename T>
void DropOldest(std::vector<T>& records, std::size_t limit) {
  if (limit == 0 || records.size() <= limit + limit / 2) return;
  records.erase(records.begin(), records.end() - static_cast<std::ptrdiff_t>(limit));
}

}  // namespace

void Recorder::TrimLocked() {
  DropOldest(calls_, retention_);
  DropOldest(violations_, retention_);
  DropOldest(packets_, retention_);
  DropOldest(decode_errors_, retention_);
}

void Recorder::Clear() {
  std::lock_guard lock(mutex_);
  calls_.clear();
  violations_.clear();
  packets_.clear();
  decode_errors_.clear();
  reported_overlaps_.clear();
}

}  // namespace raid::sim
