// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/platform.h"

#include <algorithm>
#include <string_view>

namespace raid::cli {

std::size_t UnsentLine(std::size_t count, char* buffer, std::size_t size) {
  constexpr std::string_view kStart = "raidctl: ";
  char digits[24];
  std::size_t length = 0;
  do {
    digits[length++] = static_cast<char>('0' + count % 10);
    count /= 10;
  } while (count != 0);
  std::size_t at = 0;
  const auto put = [&](char c) {
    if (at < size) buffer[at++] = c;
  };
  for (const char c : kStart)
    put(c);
  while (length != 0)
    put(digits[--length]);
  for (const char c : kUnsentLineEnd)
    put(c);
  return at;
}

}  // namespace raid::cli
