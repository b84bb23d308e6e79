// SPDX-License-Identifier: GPL-2.0-or-later
#include "spi_flash.h"

#include <algorithm>
#include <array>
#include <random>

namespace raid::sim {
namespace {

constexpr std::uint32_t kTagOffset = 128;
constexpr std::uint32_t kGuidOffset = 132;
constexpr std::uint32_t kTypeOffset = 149;
constexpr std::uint32_t kDateOffset = 156;
constexpr std::uint32_t kProductOffset = 160;
constexpr std::array<std::uint8_t, 4> kVendorTag = {'K', 'D', 'R', 'X'};
constexpr std::array<std::uint8_t, 16> kImageGuid = {
    0xEF, 0x6D, 0x16, 0xAE, 0xDC, 0x6F, 0x4C, 0x47, 0x9B, 0xA4, 0xB6, 0xAA, 0xE4, 0xB6, 0x9A, 0x84};

}  // namespace

SpiFlash::SpiFlash() : sectors_(kFlashSize / kFlashSectorSize) {}

void SpiFlash::ReadBlock(std::uint32_t address, std::span<std::uint8_t> out) const {
  std::size_t done = 0;
  while (done < out.size()) {
    const std::uint64_t at = std::uint64_t{address} + done;
    const std::size_t offset = at % kFlashSectorSize;
    const std::size_t count = std::min<std::size_t>(out.size() - done, kFlashSectorSize - offset);
    const auto part = out.subspan(done, count);
    const Sector* sector = at < kFlashSize ? sectors_[at / kFlashSectorSize].get() : nullptr;
    if (sector) {
      std::copy_n(sector->begin() + offset, count, part.begin());
    } else {
      std::fill(part.begin(), part.end(), std::uint8_t{0xFF});
    }
    done += count;
  }
}

template <typename Write>
void SpiFlash::WriteCells(std::uint32_t address, std::span<const std::uint8_t> data, Write write) {
  std::size_t done = 0;
  while (done < data.size()) {
    const std::uint64_t at = std::uint64_t{address} + done;
    if (at >= kFlashSize) return;
    const std::size_t offset = at % kFlashSectorSize;
    const std::size_t count = std::min<std::size_t>(data.size() - done, kFlashSectorSize - offset);
    auto& sector = sectors_[at / kFlashSectorSize];
    if (!sector) {
      sector = std::make_unique<Sector>();
      sector->fill(0xFF);
    }
    for (std::size_t i = 0; i < count; ++i)
      write((*sector)[offset + i], data[done + i]);
    done += count;
  }
}

void SpiFlash::ProgramBlock(std::uint32_t address, std::span<const std::uint8_t> data) {
  WriteCells(address, data, [](std::uint8_t& cell, std::uint8_t byte) { cell &= byte; });
}

void SpiFlash::EraseSector(std::uint32_t address) {
  if (address >= kFlashSize) return;
  sectors_[address / kFlashSectorSize].reset();
}

void SpiFlash::Store(std::uint32_t address, std::span<const std::uint8_t> data) {
  WriteCells(address, data, [](std::uint8_t& cell, std::uint8_t byte) { cell = byte; });
}

std::vector<std::uint8_t> SpiFlash::Bytes(std::uint32_t address, std::uint32_t length) const {
  std::vector<std::uint8_t> out(length);
  ReadBlock(address, out);
  return out;
}

std::vector<std::uint8_t> BuildFirmwareImage(const FirmwareImageFields& fields) {
  const std::uint32_t size = std::max<std::uint32_t>(fields.size, kProductOffset + 2);
  std::vector<std::uint8_t> image(size);
  // mt19937's output sequence is fixed by the standard, so every platform builds the same body.
  std::mt19937 body(0x6182u);
  for (auto& byte : image)
    byte = static_cast<std::uint8_t>(body() >> 24);
  std::copy(kVendorTag.begin(), kVendorTag.end(), image.begin() + kTagOffset);
  std::copy(kImageGuid.begin(), kImageGuid.end(), image.begin() + kGuidOffset);
  image[kTypeOffset] = fields.firmware_type;
  for (std::size_t i = 0; i < 4 && i < fields.revision.size(); ++i) {
    image[kDateOffset + i] = fields.revision[i];
  }
  for (std::size_t i = 0; i < 2 && 4 + i < fields.revision.size(); ++i) {
    image[kProductOffset + i] = fields.revision[4 + i];
  }
  return image;
}

}  // namespace raid::sim
