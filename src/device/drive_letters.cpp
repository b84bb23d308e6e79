// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/drive_letters.h"

namespace raid {

namespace {
constexpr unsigned kFirstVolumeBit = 2;  // C
constexpr unsigned kMaxLetters = 24;     // C..Z
}  // namespace

std::vector<char> DriveLettersFromMask(std::uint32_t mask) {
  std::vector<char> letters;
  for (unsigned bit = kFirstVolumeBit; bit < kFirstVolumeBit + kMaxLetters && (mask >> bit) != 0;
       ++bit) {
    if ((mask >> bit) & 1U) letters.push_back(static_cast<char>('A' + bit));
  }
  return letters;
}

}  // namespace raid
