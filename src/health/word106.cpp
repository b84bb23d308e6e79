// SPDX-License-Identifier: GPL-2.0-or-later
#include "health/word106.h"

#include "common/bytes.h"

namespace raid {

FourKSectorLabel FourKSectorAnswer(std::uint16_t word106) {
  const std::string digits = HexUpper(word106, 4);
  FourKSectorLabel label;
  if (word106 == kWord106FourK) {
    label.answer = "Yes";
    label.hint = "WORD[106]=0x" + digits;
  } else if (word106 & kWord106Failed) {
    label.answer = "Unknown";
    label.hint = "Code=0x" + digits;
  } else {
    label.answer = "No";
    label.hint = "WORD[106]=0x" + digits;
  }
  label.text = " 4K Sector supported : " + std::string(label.answer) + " ";
  return label;
}

}  // namespace raid
