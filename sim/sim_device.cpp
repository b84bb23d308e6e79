// SPDX-License-Identifier: GPL-2.0-or-later
#include "sim_device.h"

#include <algorithm>

#include "wire_bytes.h"

namespace raid::sim {
namespace {

std::uint64_t SplitMix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// Uses up one of the faults aimed at `lba`; false when none is left.
bool TakeLbaFault(std::vector<FaultSpec::LbaFailure>& faults, std::uint32_t lba) {
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    if (it->lba == lba && it->times > 0) {
      if (--it->times == 0) faults.erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace

SimDevice::SimDevice(unsigned drive_number, std::uint64_t capacity, InquiryIdentity identity)
    : drive_number_(drive_number), capacity_(capacity), identity_(std::move(identity)) {}

SimDevice::ReadOutcome SimDevice::Read(std::uint32_t lba, std::uint32_t blocks,
                                       std::span<std::uint8_t> out) {
  std::lock_guard lock(mutex_);
  ReadOutcome outcome;
  if (vanish_after_reads_) {
    if (*vanish_after_reads_ == 0) {
      outcome.vanished = true;
      return outcome;
    }
    --*vanish_after_reads_;
  }
  if (TakeLbaFault(unit_attention_at_, lba)) {
    outcome.unit_attention = true;
    ResetBridgeLocked();
    return outcome;
  }
  if (ReadFaultFires(lba)) return outcome;
  if (std::uint64_t{lba} + blocks > capacity_) return outcome;
  outcome.ok = true;
  ServeRead(lba, blocks, out, outcome);
  return outcome;
}

bool SimDevice::Inquiry(std::span<std::uint8_t> out) {
  std::array<std::uint8_t, kInquiryBytes> data{};
  data[0] = 0x00;  // direct-access block device
  data[2] = 0x06;  // SPC-4
  data[3] = 0x02;  // response data format
  data[4] = kInquiryBytes - 5;
  {
    std::lock_guard lock(mutex_);
    wire::PutPaddedText(data, 8, 8, identity_.vendor);
    wire::PutPaddedText(data, 16, 16, identity_.product);
    wire::PutPaddedText(data, 32, 4, identity_.revision);
  }
  std::copy_n(data.begin(), std::min(out.size(), data.size()), out.begin());
  return true;
}

void SimDevice::SetFaults(const FaultSpec& faults) {
  std::lock_guard lock(mutex_);
  SetReadFaultsLocked(faults);
}

void SimDevice::SetReadFaultsLocked(const FaultSpec& faults) {
  fail_next_reads_ = faults.fail_next_reads;
  fail_reads_at_ = faults.fail_reads_at;
  read_failure_rate_ = faults.read_failure_rate;
  random_.seed(faults.seed ^ (0x5157ULL * (drive_number_ + 1)));
  vanish_after_reads_ = faults.vanish_after_reads;
  unit_attention_at_ = faults.unit_attention_at;
  hold_reads_ = faults.hold_reads;
  read_latency_us_ = faults.read_latency_us;
}

void SimDevice::SetReadLatency(std::uint32_t microseconds) {
  std::lock_guard lock(mutex_);
  read_latency_us_ = microseconds;
}

std::uint32_t SimDevice::ReadLatency() const {
  std::lock_guard lock(mutex_);
  return read_latency_us_;
}

void SimDevice::FailNextReads(std::uint32_t count) {
  std::lock_guard lock(mutex_);
  fail_next_reads_ = count;
}

void SimDevice::FailReadsAt(std::uint32_t lba, std::uint32_t times) {
  std::lock_guard lock(mutex_);
  fail_reads_at_.push_back({lba, times});
}

void SimDevice::SetReadFailureRate(double rate, std::uint64_t seed) {
  std::lock_guard lock(mutex_);
  read_failure_rate_ = rate;
  random_.seed(seed ^ (0x5157ULL * (drive_number_ + 1)));
}

void SimDevice::VanishAfterReads(std::uint32_t reads) {
  std::lock_guard lock(mutex_);
  vanish_after_reads_ = reads;
}

void SimDevice::UnitAttentionAt(std::uint32_t lba, std::uint32_t times) {
  std::lock_guard lock(mutex_);
  unit_attention_at_.push_back({lba, times});
}

void SimDevice::HoldReads(std::optional<std::uint32_t> lba, std::uint32_t ms, std::uint32_t times) {
  std::lock_guard lock(mutex_);
  hold_reads_.push_back({lba, ms, times});
}

std::optional<std::uint32_t> SimDevice::TakeReadHold(std::uint32_t lba) {
  std::lock_guard lock(mutex_);
  for (auto it = hold_reads_.begin(); it != hold_reads_.end(); ++it) {
    if ((!it->lba || *it->lba == lba) && it->times > 0) {
      const std::uint32_t ms = it->ms;
      if (--it->times == 0) hold_reads_.erase(it);
      return ms;
    }
  }
  return std::nullopt;
}

bool SimDevice::ReadHoldsPending() const {
  std::lock_guard lock(mutex_);
  return !hold_reads_.empty();
}

void SimDevice::Revive() {
  std::lock_guard lock(mutex_);
  vanish_after_reads_.reset();
}

bool SimDevice::ReadFaultFires(std::uint32_t lba) {
  if (fail_next_reads_ > 0) {
    --fail_next_reads_;
    return true;
  }
  if (TakeLbaFault(fail_reads_at_, lba)) return true;
  if (read_failure_rate_ > 0.0) {
    // 53 bits of the engine's output: the same draw on every platform.
    const double draw = static_cast<double>(random_() >> 11) * 0x1.0p-53;
    if (draw < read_failure_rate_) return true;
  }
  return false;
}

void SimDevice::PlainBlock(std::uint32_t lba, std::span<std::uint8_t> out) const {
  const std::uint64_t salt = SplitMix(0xD15C0000ULL + drive_number_);
  for (std::size_t word = 0; word * 8 < out.size(); ++word) {
    const std::uint64_t value = SplitMix(salt ^ (std::uint64_t{lba} << 7) ^ word);
    for (std::size_t i = 0; i < 8 && word * 8 + i < out.size(); ++i) {
      out[word * 8 + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
  }
}

SimPlainDisk::SimPlainDisk(unsigned drive_number, const PlainDiskSpec& config)
    : SimDevice(drive_number, config.capacity,
                InquiryIdentity{config.vendor, config.product, config.product_revision}) {
  SimDevice::SetFaults(config.faults);
}

void SimPlainDisk::ServeRead(std::uint32_t lba, std::uint32_t blocks, std::span<std::uint8_t> out,
                             ReadOutcome& /*outcome*/) {
  for (std::uint32_t i = 0; i < blocks; ++i) {
    PlainBlock(lba + i, out.subspan(std::size_t{i} * kBlockBytes, kBlockBytes));
  }
}

}  // namespace raid::sim
