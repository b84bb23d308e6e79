// SPDX-License-Identifier: GPL-2.0-or-later
// Plain descriptions of simulated hardware. Every field has a default, so `EnclosureSpec{}` is a
// healthy mirroring RAID bridge with two 1 TB drives and `PlainDiskSpec{}` an ordinary disk;
// scenario files and tests change only what matters to them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "device/disk_system.h"

namespace raid::sim {

// Which signature pair the controller signs its answers with.
enum class BridgeKind : std::uint8_t { kRaid = 0, kPortMultiplier = 1 };

// Port state codes as the array-status answer carries them.
inline constexpr std::uint8_t kPortInArray = 0;
inline constexpr std::uint8_t kPortRebuildTarget = 1;
inline constexpr std::uint8_t kPortNewlyInserted = 6;
inline constexpr std::uint8_t kPortTooSmall = 9;
inline constexpr std::uint8_t kPortAbsentDefault = 0x03;

// Raw array modes of the array-status answer.
inline constexpr std::uint8_t kModeJbod = 0;
inline constexpr std::uint8_t kModeStriping = 1;
inline constexpr std::uint8_t kModeMirroring = 2;
inline constexpr std::uint8_t kModeBypass = 3;

inline constexpr std::uint64_t kOneTerabyteSectors = 1953525168;

struct SmartAttributeSpec {
  std::uint8_t id = 0;
  std::uint8_t current = 100;
  std::uint8_t worst = 100;
  std::uint64_t raw = 0;  // 48 bits
  std::uint8_t threshold = 0;
  std::uint16_t flags = 0x0032;
};

// One member drive behind the bridge.
struct MemberSpec {
  std::string model = "NORTHWIND NW1000SA-01";
  std::string serial = "NW1A00000001";
  std::string firmware = "SA01";
  std::uint64_t capacity = kOneTerabyteSectors;
  std::uint16_t word106 = 0x6003;
  // Replace or add attributes of the default set, matched by id.
  std::vector<SmartAttributeSpec> smart_attributes;
  // When set, the attribute table holds only `smart_attributes`.
  bool smart_replace_defaults = false;
};

// Faults a drive can be told to have. Read faults apply to every drive; the others only to an
// enclosure's controller. All of them are reproducible: randomness comes from `seed`.
struct FaultSpec {
  std::uint32_t fail_next_reads = 0;
  struct LbaFailure {
    std::uint32_t lba = 0;
    std::uint32_t times = 1;
  };
  std::vector<LbaFailure> fail_reads_at;
  double read_failure_rate = 0.0;
  std::uint64_t seed = 1;
  // The device is gone after this many more reads: reads fail, opens fail until plugged back.
  std::optional<std::uint32_t> vanish_after_reads;
  // The bridge resets just before a read of that block: the read ends in CHECK CONDITION with
  // UNIT ATTENTION, and the controller loses a half-read packet and its pending answer.
  std::vector<LbaFailure> unit_attention_at;
  // Reads that take `ms` of clock time: those of `lba`, or any read when it is empty. A hold
  // that reaches the command's time-out ends the read there, undelivered.
  struct ReadHold {
    std::optional<std::uint32_t> lba;
    std::uint32_t ms = 0;
    std::uint32_t times = 1;
  };
  std::vector<ReadHold> hold_reads;
  // Every read takes this long on the clock, as over a real USB bridge (0.5 ms on USB 2.0).
  std::uint32_t read_latency_us = 0;

  std::uint32_t answer_delay_ms = 0;  // added to the controller's own delay
  bool never_answer = false;
  bool wrong_second_signature = false;
  struct ForcedStatus {
    std::uint8_t status = 0;
    std::uint32_t count = 0;
  };
  std::optional<ForcedStatus> force_status;
  struct FlashFailure {
    std::uint32_t address = 0;  // any byte address inside the 128-byte block
    std::uint32_t times = 1;
  };
  std::vector<FlashFailure> flash_failures;
  bool lying_flash_writes = false;
  // A drive command that goes wrong `times` times, then works: the ATA command (opcode 0xB1) or
  // a result part fetch (0xB2) whose first argument is `feature` (0: any) and, for a fetch, whose
  // part is `part` (0: any). Its answer carries status 0xE0; with `echo` it is done instead but
  // echoes those two bytes at 76-77, as from a controller that answered another command.
  struct DriveCommandFault {
    std::uint8_t opcode = 0xB1;
    std::uint8_t feature = 0;
    std::uint8_t part = 0;
    std::optional<std::array<std::uint8_t, 2>> echo;
    std::uint32_t times = 1;
  };
  std::vector<DriveCommandFault> drive_command_faults;
};

struct RebuildSpec {
  unsigned port = 1;
  std::uint64_t duration_ms = 120000;
};

struct EnclosureSpec {
  BridgeKind kind = BridgeKind::kRaid;
  std::uint8_t raw_mode = kModeMirroring;
  // Firmware revision field of the controller information answer: bytes 0-3 a date code (byte 3
  // bit 4 the port order, low nibble the revision digit), bytes 4-5 the product code.
  std::array<std::uint8_t, 8> revision = {0x16, 0x05, 0x20, 0x13, 0x27, 0x70, 0x00, 0x00};
  std::string model_text = "TORVANE TR6182 Dual SATA RAID";  // empty: no model text
  std::optional<std::uint64_t> array_capacity;               // default: from mode and members
  bool sensors = true;
  std::uint16_t fan_rpm = 2350;
  std::uint8_t temperature = 41;
  std::string vendor = "TORVANE";
  std::string product = "RAID6182 Bridge";
  std::string product_revision = "0100";
  std::uint8_t firmware_type = 0x03;  // flash byte 149
  std::uint32_t flash_image_size = 40960;
  std::uint32_t answer_delay_ms = 0;
  std::uint8_t absent_state = kPortAbsentDefault;
  std::uint64_t disk_capacity = kOneTerabyteSectors;  // what the host sees of the array
  std::array<std::optional<MemberSpec>, 2> members = {DefaultMember(0), DefaultMember(1)};
  // Port states of present members; an absent member reports `absent_state`.
  std::array<std::uint8_t, 2> port_states = {kPortInArray, kPortInArray};
  std::optional<RebuildSpec> rebuild;  // a rebuild already running at start
  FaultSpec faults;

  static MemberSpec DefaultMember(unsigned port);
  // A port-multiplier bridge without model text: its model comes from INQUIRY.
  static EnclosureSpec PortMultiplier();
  bool PortOrderBit() const { return (revision[3] & 0x10) != 0; }
};

struct PlainDiskSpec {
  std::string vendor = "ATA";
  std::string product = "NORTHWIND NW500";
  std::string product_revision = "1.00";
  std::uint64_t capacity = 976773168;
  FaultSpec faults;
};

struct DriveSpec {
  DriveSpec() = default;
  DriveSpec(PlainDiskSpec disk) : device(std::move(disk)) {}
  DriveSpec(EnclosureSpec enclosure) : device(std::move(enclosure)) {}

  std::variant<PlainDiskSpec, EnclosureSpec> device;
  bool openable = true;  // false: opens fail with access denied
  bool busy = false;     // true: opens fail as on a disk another program holds
};

struct VolumeSpec {
  std::string name;
  DriveType drive_type = DriveType::kFixed;
  // First extent; empty when the volume spans several disks.
  std::optional<DiskExtent> extent;
  bool openable = true;
};

}  // namespace raid::sim
