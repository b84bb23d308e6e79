// SPDX-License-Identifier: GPL-2.0-or-later
#include "common/bytes.h"

#include <fmt/format.h>

namespace raid {

std::string ReadSwappedText(ConstBytes bytes, std::size_t offset, std::size_t length) {
  std::string text(length, '\0');
  for (std::size_t i = 0; i < length; ++i) {
    text[i] = static_cast<char>(bytes[offset + (i ^ 1U)]);
  }
  return text;
}

void WriteSwappedText(Bytes bytes, std::size_t offset, std::size_t length, std::string_view text,
                      char fill) {
  for (std::size_t i = 0; i < length; ++i) {
    const char c = i < text.size() ? text[i] : fill;
    bytes[offset + (i ^ 1U)] = static_cast<std::uint8_t>(c);
  }
}

std::string HexUpper(std::uint64_t value, int digits) {
  return fmt::format("{:0{}X}", value, digits);
}

}  // namespace raid
