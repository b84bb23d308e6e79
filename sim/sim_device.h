// SPDX-License-Identifier: GPL-2.0-or-later
// What every simulated physical drive shares: deterministic block content, INQUIRY data and the
// read faults (failing reads, a random failure rate, a device that vanishes, a bridge that
// resets, reads that hang).
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "hardware.h"
#include "knock_decoder.h"

namespace raid::sim {

inline constexpr std::size_t kBlockBytes = 512;
inline constexpr std::size_t kInquiryBytes = 36;

struct InquiryIdentity {
  std::string vendor;    // 8 characters on the wire
  std::string product;   // 16
  std::string revision;  // 4
};

class SimDevice {
 public:
  struct ReadOutcome {
    bool ok = false;
    bool vanished = false;        // the device is gone from now on
    bool unit_attention = false;  // the bridge was reset: CHECK CONDITION, nothing delivered
    // What a controller made of the read's address, for the recorder.
    std::optional<DecodedPacket> packet;
    std::optional<std::string> decode_error;
    // A packet the controller refused because the client broke the protocol.
    std::optional<std::string> violation;
  };

  SimDevice(unsigned drive_number, std::uint64_t capacity, InquiryIdentity identity);
  virtual ~SimDevice() = default;
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  // One READ(10) of `blocks` blocks into `out` (blocks x 512 bytes). The read faults decide
  // first; a read they fail never reaches the device.
  ReadOutcome Read(std::uint32_t lba, std::uint32_t blocks, std::span<std::uint8_t> out);
  // Standard INQUIRY data, up to 36 bytes.
  bool Inquiry(std::span<std::uint8_t> out);

  unsigned drive_number() const { return drive_number_; }

  // Read faults. SetFaults replaces all of them with those that `faults` describes.
  virtual void SetFaults(const FaultSpec& faults);
  void FailNextReads(std::uint32_t count);
  void FailReadsAt(std::uint32_t lba, std::uint32_t times);
  void SetReadFailureRate(double rate, std::uint64_t seed);
  void VanishAfterReads(std::uint32_t reads);
  // The next `times` reads of `lba` find the bridge just reset.
  void UnitAttentionAt(std::uint32_t lba, std::uint32_t times);
  // The next `times` reads of `lba` (of any block when empty) take `ms` of clock time.
  void HoldReads(std::optional<std::uint32_t> lba, std::uint32_t ms, std::uint32_t times);
  // How long a read of `lba` is held, using up that hold. The host sleeps it off without any
  // lock held, so that other drives stay usable meanwhile.
  std::optional<std::uint32_t> TakeReadHold(std::uint32_t lba);
  // Whether some hold still waits for its read: a test waits for zero to know a read is held.
  bool ReadHoldsPending() const;
  // Microseconds every read takes.
  void SetReadLatency(std::uint32_t microseconds);
  std::uint32_t ReadLatency() const;
  // Plugged back after vanishing: it works again.
  void Revive();

  // The content an ordinary read of `lba` returns, the same on every run.
  void PlainBlock(std::uint32_t lba, std::span<std::uint8_t> out) const;

 protected:
  // Serves a read that passed the faults. Called with `mutex_` held.
  virtual void ServeRead(std::uint32_t lba, std::uint32_t blocks, std::span<std::uint8_t> out,
                         ReadOutcome& outcome) = 0;
  // The bridge in front of the device was reset. Called with `mutex_` held.
  virtual void ResetBridgeLocked() {}

  mutable std::mutex mutex_;

 private:
  void SetReadFaultsLocked(const FaultSpec& faults);
  bool ReadFaultFires(std::uint32_t lba);

  unsigned drive_number_;
  std::uint64_t capacity_;
  InquiryIdentity identity_;

  std::uint32_t fail_next_reads_ = 0;
  std::vector<FaultSpec::LbaFailure> fail_reads_at_;
  double read_failure_rate_ = 0.0;
  std::mt19937_64 random_{1};
  std::optional<std::uint32_t> vanish_after_reads_;
  std::vector<FaultSpec::LbaFailure> unit_attention_at_;
  std::vector<FaultSpec::ReadHold> hold_reads_;
  std::uint32_t read_latency_us_ = 0;
};

class SimPlainDisk : public SimDevice {
 public:
  SimPlainDisk(unsigned drive_number, const PlainDiskSpec& config);

 protected:
  void ServeRead(std::uint32_t lba, std::uint32_t blocks, std::span<std::uint8_t> out,
                 ReadOutcome& outcome) override;
};

}  // namespace raid::sim
