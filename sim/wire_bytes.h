// SPDX-License-Identifier: GPL-2.0-or-later
// Byte-level helpers for the controller's side of the wire. The simulator keeps its own copies
// on purpose: it must not share code with the program it checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace raid::sim::wire {

inline void PutBigEndian(std::span<std::uint8_t> out, std::size_t offset, std::size_t width,
                         std::uint64_t value) {
  for (std::size_t i = 0; i < width; ++i) {
    out[offset + width - 1 - i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

inline void PutLittleEndian(std::span<std::uint8_t> out, std::size_t offset, std::size_t width,
                            std::uint64_t value) {
  for (std::size_t i = 0; i < width; ++i) {
    out[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

inline std::uint64_t GetBigEndian(std::span<const std::uint8_t> in, std::size_t offset,
                                  std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i)
    value = (value << 8) | in[offset + i];
  return value;
}

// ASCII text as ATA drives store it: each pair of characters swapped, padded with `fill`.
inline void PutSwappedText(std::span<std::uint8_t> out, std::size_t offset, std::size_t length,
                           std::string_view text, char fill = ' ') {
  for (std::size_t i = 0; i < length; ++i) {
    const char c = i < text.size() ? text[i] : fill;
    out[offset + (i ^ 1U)] = static_cast<std::uint8_t>(c);
  }
}

// Plain left-aligned ASCII, padded with blanks (INQUIRY fields).
inline void PutPaddedText(std::span<std::uint8_t> out, std::size_t offset, std::size_t length,
                          std::string_view text) {
  for (std::size_t i = 0; i < length; ++i) {
    out[offset + i] = static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
  }
}

}  // namespace raid::sim::wire
