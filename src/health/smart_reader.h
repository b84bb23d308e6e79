// SPDX-License-Identifier: GPL-2.0-or-later
// ReadSmart: the member drives' SMART data (feature 0xD0, with IDENTIFY word 106) or thresholds
// (0xD1) of the watched enclosures, read through the controller's drive commands into the SMART
// store, one enclosure per call. Runs on the RAID worker when the schedule asks for it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/shared_state.h"
#include "device/controller_commands.h"
#include "device/enclosure_list.h"
#include "health/smart_reading.h"
#include "health/smart_store.h"
#include "status/controller_status.h"

namespace raid {

// A drive's whole step (IDENTIFY, the SMART command and its parts) is tried this often, and so
// is every part fetch.
inline constexpr int kSmartDriveAttempts = 4;
inline constexpr int kSmartPartTries = 4;

// What one pass did.
struct SmartReadPass {
  bool ran = false;  // false: a guard held it back and nothing was sent
  // Positions whose drives the pass read (or found absent); the others were left alone.
  std::array<bool, kSmartPositions> read{};
  // Drives whose SMART command failed on every attempt, or one of whose parts could not be
  // fetched; the bytes they did not get keep their old content.
  std::array<std::array<bool, kMemberDrives>, kSmartPositions> failed{};
  bool AnyFailed() const;
};

class DriveSmartReader : public SmartReader {
 public:
  DriveSmartReader(ControllerCommands& commands, SharedState& state,
                   const EnclosureRegistry& registry, const StatusRecords& records,
                   SmartStore& store, WatchPolicy watch = kWindowWatch);

  // Called on the RAID worker after a data read while the SMART page is showing, so that the
  // window can draw the page again (on its own thread).
  void SetAfterDataRead(std::function<void()> after) { after_data_read_ = std::move(after); }

  // Called on the RAID worker after every pass that ran, with its feature and what it did.
  void SetPassListener(std::function<void(std::uint8_t, const SmartReadPass&)> listener) {
    pass_listener_ = std::move(listener);
  }

  // One enclosure of the pass under way (a new pass when none is, or it read another feature).
  bool ReadSmart(std::uint8_t feature) override;
  // A whole pass at once. Reads nothing while an upgrade target is selected, no enclosure is
  // listed or no watched position is checked.
  SmartReadPass Read(std::uint8_t feature);

 private:
  bool Held() const;
  bool Wanted(unsigned position) const;
  void ReadPosition(unsigned position, std::uint8_t feature);
  void EndPass(std::uint8_t feature);
  bool ReadDrive(const DiskRef& target, unsigned position, unsigned drive, std::uint8_t port,
                 std::uint8_t feature);
  std::uint16_t ReadWord106(const DiskRef& target, std::uint8_t port);
  // One part of the ATA result into response_, with its tries; `echo` also wants the answer to
  // echo the part fetch of `feature`. The result of the last try.
  ResultCode FetchPart(const DiskRef& target, std::uint8_t feature, std::uint8_t port,
                       std::uint8_t part, bool echo);
  bool EchoIs(std::uint8_t opcode, std::uint8_t argument) const;

  ControllerCommands& commands_;
  SharedState& state_;
  const EnclosureRegistry& registry_;
  const StatusRecords& records_;
  SmartStore& store_;
  WatchPolicy watch_;
  std::function<void()> after_data_read_;
  std::function<void(std::uint8_t, const SmartReadPass&)> pass_listener_;
  std::array<std::uint8_t, 512> response_{};
  // The pass under way: its feature, the next position and what it did so far.
  std::optional<std::uint8_t> pass_feature_;
  unsigned next_position_ = 0;
  SmartReadPass pass_;
  // Whose thresholds the store holds, by position and drive: the drive's model and serial when
  // they were read; none when they were not, or their read failed.
  std::array<std::array<std::optional<std::string>, kMemberDrives>, kSmartPositions> thresholds_of_;
};

}  // namespace raid
