// SPDX-License-Identifier: GPL-2.0-or-later
// The controller's 8 MiB SPI flash: read and program in 128-byte blocks, erase in 4096-byte
// sectors. Erased bytes read 0xFF, and programming can only clear bits, as on the real part.
// Only the sectors written since their last erase hold memory: a host of many enclosures, each
// with a firmware image of a few dozen KiB, does not carry 8 MiB of 0xFF per enclosure.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace raid::sim {

inline constexpr std::uint32_t kFlashSize = 8U * 1024U * 1024U;
inline constexpr std::uint32_t kFlashBlockSize = 128;
inline constexpr std::uint32_t kFlashSectorSize = 4096;

class SpiFlash {
 public:
  SpiFlash();

  // Out-of-range addresses read as erased and ignore programs and erases.
  void ReadBlock(std::uint32_t address, std::span<std::uint8_t> out) const;
  void ProgramBlock(std::uint32_t address, std::span<const std::uint8_t> data);
  void EraseSector(std::uint32_t address);  // the sector that holds `address`

  // Direct access for set-up and inspection, bypassing program semantics.
  void Store(std::uint32_t address, std::span<const std::uint8_t> data);
  std::vector<std::uint8_t> Bytes(std::uint32_t address, std::uint32_t length) const;

 private:
  using Sector = std::array<std::uint8_t, kFlashSectorSize>;

  // Calls `write(cell, byte)` for each byte of `data` that lands inside the flash, making its
  // sector's memory first when the sector is erased.
  template <typename Write>
  void WriteCells(std::uint32_t address, std::span<const std::uint8_t> data, Write write);

  std::vector<std::unique_ptr<Sector>> sectors_;  // null: erased
};

struct FirmwareImageFields {
  std::uint8_t firmware_type = 0;
  std::span<const std::uint8_t> revision;  // at least 6 bytes: date code and product code
  std::uint32_t size = 0;
};

// A plausible firmware image at address 0: a deterministic body with the header fields the
// program validates (vendor tag, GUID, type byte, date code, product code).
std::vector<std::uint8_t> BuildFirmwareImage(const FirmwareImageFields& fields);

}  // namespace raid::sim
