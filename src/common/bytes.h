// SPDX-License-Identifier: GPL-2.0-or-later
// Byte order in one place: the controller answers big-endian, our own records are little-endian,
// and drive texts (models, serials) carry each byte pair swapped as ATA identify data does.
// Nobody else shifts bytes by hand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace raid {

using Bytes = std::span<std::uint8_t>;
using ConstBytes = std::span<const std::uint8_t>;

// Reads `width` bytes (1..8) most significant first.
constexpr std::uint64_t ReadBigEndian(ConstBytes bytes, std::size_t offset, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i)
    value = (value << 8) | bytes[offset + i];
  return value;
}

// Reads `width` bytes (1..8) least significant first.
constexpr std::uint64_t ReadLittleEndian(ConstBytes bytes, std::size_t offset, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i > 0; --i)
    value = (value << 8) | bytes[offset + i - 1];
  return value;
}

constexpr void WriteBigEndian(Bytes bytes, std::size_t offset, std::size_t width,
                              std::uint64_t value) {
  for (std::size_t i = width; i > 0; --i) {
    bytes[offset + i - 1] = static_cast<std::uint8_t>(value & 0xFF);
    value >>= 8;
  }
}

constexpr void WriteLittleEndian(Bytes bytes, std::size_t offset, std::size_t width,
                                 std::uint64_t value) {
  for (std::size_t i = 0; i < width; ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>(value & 0xFF);
    value >>= 8;
  }
}

// Text of a byte-pair-swapped field: byte i of the result is byte (i xor 1) of the field.
// `length` is even; the result has exactly `length` characters (zero bytes included).
std::string ReadSwappedText(ConstBytes bytes, std::size_t offset, std::size_t length);

// Stores `text` into a byte-pair-swapped field of `length` bytes, padding with `fill`.
void WriteSwappedText(Bytes bytes, std::size_t offset, std::size_t length, std::string_view text,
                      char fill = ' ');

// Upper-case hexadecimal of `value`, at least `digits` digits.
std::string HexUpper(std::uint64_t value, int digits);

}  // namespace raid
