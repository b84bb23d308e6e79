// SPDX-License-Identifier: GPL-2.0-or-later
#include "member_drive.h"

#include <algorithm>
#include <utility>

#include "wire_bytes.h"

namespace raid::sim {
namespace {

constexpr std::size_t kSlotSize = 12;
constexpr std::size_t kFirstSlot = 2;
constexpr std::uint16_t kSmartRevision = 0x0010;

void PutWord(Sector& sector, std::size_t word, std::uint16_t value) {
  wire::PutLittleEndian(sector, word * 2, 2, value);
}

// ATA structures end with a byte that makes the sum of all 512 bytes zero.
void SealChecksum(Sector& sector) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < 511; ++i)
    sum = static_cast<std::uint8_t>(sum + sector[i]);
  sector[511] = static_cast<std::uint8_t>(0x100 - sum);
}

}  // namespace

std::vector<SmartAttributeSpec> DefaultSmartAttributes() {
  // id, current, worst, raw, threshold, flags
  return {
      {0x01, 200, 200, 0, 51, 0x002F},   {0x03, 178, 175, 6075, 21, 0x0027},
      {0x04, 100, 100, 212, 0, 0x0032},  {0x05, 200, 200, 0, 140, 0x0033},
      {0x07, 200, 200, 0, 0, 0x002E},    {0x09, 93, 93, 5214, 0, 0x0032},
      {0x0A, 100, 100, 0, 0, 0x0032},    {0x0B, 100, 100, 0, 0, 0x0032},
      {0x0C, 100, 100, 187, 0, 0x0032},  {0xC0, 200, 200, 61, 0, 0x0032},
      {0xC1, 198, 198, 6814, 0, 0x0032}, {0xC2, 109, 98, 41, 0, 0x0022},
      {0xC4, 200, 200, 0, 0, 0x0032},    {0xC5, 200, 200, 0, 0, 0x0032},
      {0xC6, 100, 253, 0, 0, 0x0030},    {0xC7, 200, 200, 0, 0, 0x0032},
      {0xC8, 100, 253, 0, 0, 0x0008},
  };
}

MemberDrive::MemberDrive(MemberSpec config) : spec_(std::move(config)) {
  if (!spec_.smart_replace_defaults) attributes_ = DefaultSmartAttributes();
  for (const SmartAttributeSpec& attribute : spec_.smart_attributes)
    SetAttribute(attribute);
}

void MemberDrive::SetAttribute(const SmartAttributeSpec& attribute) {
  auto same = std::find_if(attributes_.begin(), attributes_.end(),
                           [&](const SmartAttributeSpec& a) { return a.id == attribute.id; });
  if (same != attributes_.end()) {
    *same = attribute;
  } else if (attributes_.size() < kSmartSlots) {
    attributes_.push_back(attribute);
  }
}

Sector MemberDrive::IdentifyData() const {
  Sector data{};
  PutWord(data, 0, 0x0040);  // fixed device
  wire::PutSwappedText(data, 10 * 2, 20, spec_.serial);
  wire::PutSwappedText(data, 23 * 2, 8, spec_.firmware);
  wire::PutSwappedText(data, 27 * 2, 40, spec_.model);
  PutWord(data, 47, 0x8010);
  PutWord(data, 49, 0x2F00);  // LBA and DMA supported
  PutWord(data, 53, 0x0007);
  const std::uint64_t lba28 = std::min<std::uint64_t>(spec_.capacity, 0x0FFFFFFF);
  PutWord(data, 60, static_cast<std::uint16_t>(lba28));
  PutWord(data, 61, static_cast<std::uint16_t>(lba28 >> 16));
  PutWord(data, 80, 0x03F8);  // ATA8-ACS and earlier
  PutWord(data, 82, 0x746B);  // SMART among the supported feature sets
  PutWord(data, 83, 0x7501);  // 48-bit addressing
  PutWord(data, 84, 0x6163);
  PutWord(data, 85, 0x7469);
  PutWord(data, 86, 0xB401);
  PutWord(data, 87, 0x6163);
  for (std::size_t i = 0; i < 4; ++i) {
    PutWord(data, 100 + i, static_cast<std::uint16_t>(spec_.capacity >> (16 * i)));
  }
  PutWord(data, 106, spec_.word106);
  PutWord(data, 217, 7200);  // rotation rate
  data[510] = 0xA5;          // checksum signature
  SealChecksum(data);
  return data;
}

Sector MemberDrive::SmartData() const {
  Sector data{};
  PutWord(data, 0, kSmartRevision);
  for (std::size_t i = 0; i < attributes_.size(); ++i) {
    const SmartAttributeSpec& a = attributes_[i];
    const std::size_t slot = kFirstSlot + i * kSlotSize;
    data[slot] = a.id;
    wire::PutLittleEndian(data, slot + 1, 2, a.flags);
    data[slot + 3] = a.current;
    data[slot + 4] = a.worst;
    wire::PutLittleEndian(data, slot + 5, 6, a.raw);
  }
  data[362] = 0x82;            // off-line data collection completed
  data[367] = 0x7B;            // off-line capabilities
  PutWord(data, 184, 0x0003);  // SMART capability
  data[370] = 0x01;            // error logging supported
  data[372] = 2;               // short self-test minutes
  data[373] = 120;             // extended self-test minutes
  SealChecksum(data);
  return data;
}

Sector MemberDrive::SmartThresholds() const {
  Sector data{};
  PutWord(data, 0, kSmartRevision);
  for (std::size_t i = 0; i < attributes_.size(); ++i) {
    const std::size_t slot = kFirstSlot + i * kSlotSize;
    data[slot] = attributes_[i].id;
    data[slot + 1] = attributes_[i].threshold;
  }
  SealChecksum(data);
  return data;
}

}  // namespace raid::sim
