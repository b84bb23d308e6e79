// SPDX-License-Identifier: GPL-2.0-or-later
// A two-drive USB RAID enclosure as the host sees it: a disk whose bridge controller listens to
// the command channel in its block reads, answers in block 17 with its signature pair, and keeps
// an SPI flash, two member drives, the array state, a rebuild in progress, fan and temperature.
//
// Ports here are the bays, 0 = HDD1 and 1 = HDD2. On the wire the controller numbers its two
// channels (the port blocks at 84 and 160 of the array-status answer, the port argument of the
// drive commands); the port order bit of the firmware revision says how the bays are wired to
// them: set, HDD1 is channel 0; clear, HDD1 is channel 1.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/clock.h"
#include "hardware.h"
#include "member_drive.h"
#include "sim_device.h"
#include "spi_flash.h"

namespace raid::sim {

// Status bytes the controller answers with.
inline constexpr std::uint8_t kStatusDone = 0x20;
inline constexpr std::uint8_t kStatusFailed = 0xE0;
inline constexpr std::uint8_t kStatusUnknownCommand = 0x21;

class SimEnclosure : public SimDevice {
 public:
  SimEnclosure(unsigned drive_number, EnclosureSpec config, Clock& clock);

  // --- the array ---
  // Takes the drive out of its bay; false when the bay is empty.
  bool PullDrive(unsigned port);
  // Puts a drive into an empty bay: `member`, or else the one pulled from it earlier.
  bool InsertDrive(unsigned port, std::optional<MemberSpec> member = std::nullopt,
                   std::uint8_t state = kPortNewlyInserted);
  // Starts rebuilding onto the drive in `port`; it takes `duration_ms` of clock time from
  // `started_ms` (default: now; the timeline passes an event's own time).
  bool StartRebuild(unsigned port, std::uint64_t duration_ms,
                    std::optional<std::uint64_t> started_ms = std::nullopt);
  void FinishRebuild();
  bool SetPortState(unsigned port, std::uint8_t state);
  void SetMode(std::uint8_t raw_mode);
  void SetFan(std::uint16_t rpm);
  void SetTemperature(std::uint8_t celsius);
  void SetSensorsReported(bool reported);
  void SetSmartAttribute(unsigned port, const SmartAttributeSpec& attribute);

  std::uint8_t PortState(unsigned port) const;
  bool MemberPresent(unsigned port) const;
  bool RebuildRunning() const;
  BridgeKind kind() const;
  std::array<std::uint8_t, 8> revision() const;
  std::uint64_t ArrayCapacity() const;

  // --- the flash, bypassing the command channel ---
  std::vector<std::uint8_t> FlashBytes(std::uint32_t address, std::uint32_t length) const;
  void StoreFlash(std::uint32_t address, std::span<const std::uint8_t> bytes);
  // The image the flash held when the enclosure was made.
  std::vector<std::uint8_t> FactoryImage() const;

  // --- controller faults (read faults: see SimDevice) ---
  void SetFaults(const FaultSpec& faults) override;
  void SetAnswerDelay(std::uint32_t extra_ms);
  void SetNeverAnswer(bool never);
  void SetWrongSecondSignature(bool wrong);
  // The next `count` answers carry `status` instead of their own.
  void ForceStatus(std::uint8_t status, std::uint32_t count);
  // Commands on the 128-byte block holding `address` fail `times` times, then succeed.
  void FailFlashBlock(std::uint32_t address, std::uint32_t times);
  // Programs answer done but change nothing.
  void SetLyingFlashWrites(bool lying);
  // Drive commands that match `fault` go wrong as it says.
  void FailDriveCommand(const FaultSpec::DriveCommandFault& fault);

 protected:
  void ServeRead(std::uint32_t lba, std::uint32_t blocks, std::span<std::uint8_t> out,
                 ReadOutcome& outcome) override;
  // A reset controller starts from nothing: no half-read packet, no answer, no kept result.
  void ResetBridgeLocked() override;

 private:
  struct Bay {
    std::optional<MemberDrive> member;
    std::optional<MemberDrive> pulled;  // the last drive taken out, for putting it back
    std::uint8_t state = kPortInArray;
  };
  struct Rebuild {
    unsigned port = 0;
    std::uint64_t start_ms = 0;
    std::uint64_t duration_ms = 0;
  };
  struct Answer {
    Sector sector{};
    std::uint64_t ready_ms = 0;
  };
  struct ControllerFaults {
    std::uint32_t extra_delay_ms = 0;
    bool never_answer = false;
    bool wrong_second_signature = false;
    std::uint8_t forced_status = 0;
    std::uint32_t forced_count = 0;
    std::vector<FaultSpec::FlashFailure> flash_failures;
    bool lying_flash_writes = false;
    std::vector<FaultSpec::DriveCommandFault> drive_command_faults;
  };

  void SetControllerFaultsLocked(const FaultSpec& faults);
  void UpdateRebuildLocked() const;
  std::uint64_t RebuildElapsedLocked() const;
  unsigned BayOfChannel(unsigned channel) const;
  bool ReportsPresent(const Bay& bay) const;
  bool FlashFaultFires(std::uint32_t block);
  std::optional<FaultSpec::DriveCommandFault> DriveFaultFires(const DecodedPacket& packet);

  // Command execution; each fills the answer's content and returns its status. A packet whose
  // header does not fit its command is refused without an answer; Execute returns why.
  std::optional<std::string> Execute(const DecodedPacket& packet);
  std::uint8_t AnswerControllerInfo(Sector& out) const;
  std::uint8_t AnswerRebuildProgress(Sector& out) const;
  std::uint8_t AnswerArrayStatus(Sector& out) const;
  std::uint8_t AnswerFlash(const DecodedPacket& packet, Sector& out);
  std::uint8_t AnswerDrive(const DecodedPacket& packet, Sector& out);
  std::uint8_t AnswerDriveCommand(const DecodedPacket& packet);
  std::uint8_t AnswerDriveResultPart(const DecodedPacket& packet, Sector& out) const;
  void Sign(Sector& sector, std::uint8_t status);

  Clock& clock_;
  EnclosureSpec spec_;
  std::uint64_t array_capacity_ = 0;
  // A rebuild ends by itself when its time is up; readers advance it lazily.
  mutable std::array<Bay, 2> bays_;
  mutable std::optional<Rebuild> rebuild_;
  SpiFlash flash_;
  std::vector<std::uint8_t> factory_image_;
  KnockDecoder decoder_;
  std::optional<Answer> answer_;
  std::optional<Sector> drive_result_;  // kept by the ATA command for the part fetches
  ControllerFaults faults_;
};

}  // namespace raid::sim
