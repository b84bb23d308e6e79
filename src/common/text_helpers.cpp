// SPDX-License-Identifier: GPL-2.0-or-later
#include "common/text_helpers.h"

#include <algorithm>
#include <array>

#include "common/bytes.h"

namespace raid {
namespace {

constexpr std::size_t kModelLength = 40;
constexpr std::size_t kSerialLength = 20;
constexpr std::size_t kModelMinimumLength = 6;
constexpr std::size_t kRevisionOffset = 46;
constexpr std::size_t kRevisionLength = 8;

bool IsControlByte(std::uint8_t byte) {
  return byte < 0x20 || byte == 0x7F;
}

// The field as a C string: it ends at its first zero byte.
std::string SwappedField(std::span<const std::uint8_t> record, std::size_t offset,
                         std::size_t length) {
  std::string text = ReadSwappedText(record, offset, length);
  if (const std::size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  return text;
}

// The text form of the revision field is kept for revisions without a control byte; DEL counts
// as one, so such a revision shows its bytes in the hex form instead of losing one to a '?'.
bool RevisionIsText(std::span<const std::uint8_t> field) {
  return std::none_of(field.begin(), field.end(), IsControlByte);
}

}  // namespace

std::string DeviceText(std::string_view bytes) {
  std::string text(bytes);
  for (char& c : text) {
    if (IsControlByte(static_cast<std::uint8_t>(c))) c = '?';
  }
  return text;
}

std::string ModelText(std::span<const std::uint8_t> record, std::size_t offset) {
  std::string text = SwappedField(record, offset, kModelLength);
  while (text.size() > kModelMinimumLength && text.back() == ' ')
    text.pop_back();
  return DeviceText(text);
}

std::string SerialText(std::span<const std::uint8_t> record, std::size_t offset) {
  return DeviceText(SwappedField(record, offset, kSerialLength));
}

std::string FirmwareRevisionText(std::span<const std::uint8_t> identification) {
  const auto field = identification.subspan(kRevisionOffset, kRevisionLength);
  if (RevisionIsText(field)) return ReadSwappedText(field, 0, kRevisionLength);
  return HexUpper(field[0], 2) + HexUpper(field[1], 2) + HexUpper(field[2], 2) + "." +
         HexUpper(field[3] & 0x0F, 1);
}

std::string MailFirmwareRevisionText(std::span<const std::uint8_t> identification) {
  const auto field = identification.subspan(kRevisionOffset, kRevisionLength);
  if (RevisionIsText(field)) return ReadSwappedText(field, 0, kRevisionLength);
  std::string text;
  for (std::size_t i = 0; i < 6; ++i)
    text += HexUpper(field[i], 2);
  return text;
}

std::string CapacityText(std::uint64_t sectors) {
  if (sectors < 0x200000) return std::to_string(sectors / 2048) + " MB";
  return std::to_string(sectors / 2097152) + " GB";
}

std::string ModeName(std::uint8_t mode) {
  switch (mode) {
    case 0:
      return "Striping(RAID0)";
    case 1:
      return "Mirroring(RAID1)";
    case 2:
      return "NRAID";
    case 3:
      return "JBOD";
    case 63:
      return "Bypass";
    default:
      return "Undefine";
  }
}

std::string LinkSpeedName(unsigned index) {
  static constexpr std::array<const char*, 4> kNames = {"", "1.5G", "3G", "6G"};
  return index < kNames.size() ? kNames[index] : "";
}

std::string TrimmedSerial(std::string serial) {
  const std::size_t last = serial.find_last_not_of(' ');
  serial.erase(last == std::string::npos ? 0 : last + 1);
  const std::size_t first = serial.find_first_not_of(' ');
  return first == std::string::npos ? "" : serial.substr(first);
}

std::size_t Utf8SequenceLength(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  char32_t code = 0;
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[k]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace raid
