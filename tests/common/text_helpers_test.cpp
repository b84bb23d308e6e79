// SPDX-License-Identifier: GPL-2.0-or-later
#include "common/text_helpers.h"

#include <gtest/gtest.h>

#include <array>

#include "common/bytes.h"

namespace raid {
namespace {

TEST(CapacityText, SwitchesFromMegabytesToGigabytesAtTwoMebisectors) {
  EXPECT_EQ(CapacityText(1953525168), "931 GB");
  EXPECT_EQ(CapacityText(1000000), "488 MB");
  EXPECT_EQ(CapacityText(2097151), "1023 MB");
  EXPECT_EQ(CapacityText(2097152), "1 GB");
  EXPECT_EQ(CapacityText(0), "0 MB");
}

TEST(ModeName, KnownModesAndUndefine) {
  EXPECT_EQ(ModeName(1), "Mirroring(RAID1)");
  EXPECT_EQ(ModeName(63), "Bypass");
  EXPECT_EQ(ModeName(5), "Undefine");
}

TEST(LinkSpeedName, HasNoNameAboveThree) {
  EXPECT_EQ(LinkSpeedName(1), "1.5G");
  EXPECT_EQ(LinkSpeedName(3), "6G");
  EXPECT_EQ(LinkSpeedName(0), "");
  EXPECT_EQ(LinkSpeedName(4), "");
}

TEST(FirmwareRevisionText, HexFormUnlessAllEightBytesArePrintable) {
  std::array<std::uint8_t, 512> block{};
  const std::array<std::uint8_t, 8> binary = {0x09, 0x06, 0x1A, 0x13, 0x27, 0x70, 0x00, 0x00};
  std::copy(binary.begin(), binary.end(), block.begin() + 46);
  EXPECT_EQ(FirmwareRevisionText(block), "09061A.3");

  WriteSwappedText(block, 46, 8, "100126.1");
  EXPECT_EQ(FirmwareRevisionText(block), "100126.1");
  EXPECT_EQ(MailFirmwareRevisionText(block), "100126.1");

  // DEL is a control byte as well: the hex forms, never the byte itself.
  WriteSwappedText(block, 46, 8,
                   "1001\x7F"
                   "6.1");
  EXPECT_EQ(FirmwareRevisionText(block), "303131.0");
  EXPECT_EQ(MailFirmwareRevisionText(block), "30313130367F");
  // Bytes from 0x80 up are no control bytes: the text form keeps them.
  WriteSwappedText(block, 46, 8, "Rev\xE9 1.0");
  EXPECT_EQ(FirmwareRevisionText(block), "Rev\xE9 1.0");
}

// A drive's texts end at a zero byte as before; each control byte before it becomes one '?', so
// that a model cannot write a line of its own into the log or an escape to a terminal.
TEST(DriveTexts, ControlBytesBecomeQuestionMarksAndEveryOtherByteStays) {
  std::array<std::uint8_t, 512> record{};
  WriteSwappedText(record, 256, 40, "NW\r\nD9 Device was removed.", '\0');
  EXPECT_EQ(ModelText(record, 256), "NW??D9 Device was removed.");
  WriteSwappedText(record, 256, 40, "\x1B]0;x\x07\x7F Caf\xC3\xA9 \xFF", '\0');
  EXPECT_EQ(ModelText(record, 256), "?]0;x?? Caf\xC3\xA9 \xFF");
  WriteSwappedText(record, 256, 40, std::string_view("AB\0\x1B\x1B", 5));
  EXPECT_EQ(ModelText(record, 256), "AB");
  WriteSwappedText(record, 58, 20, "\x1B[2JSN\t1");
  EXPECT_EQ(SerialText(record, 58), "?[2JSN?1            ");
}

TEST(DriveTexts, ModelLosesTrailingBlanksButKeepsSixCharactersAndSerialIsUntouched) {
  std::array<std::uint8_t, 512> record{};
  WriteSwappedText(record, 256, 40, "WDC WD10EZEX-00BN5A0");
  EXPECT_EQ(ModelText(record, 256), "WDC WD10EZEX-00BN5A0");
  WriteSwappedText(record, 256, 40, "AB");
  EXPECT_EQ(ModelText(record, 256), "AB    ");
  WriteSwappedText(record, 58, 20, "  WD-WCC3F0123456");
  EXPECT_EQ(SerialText(record, 58), "  WD-WCC3F0123456   ");
}

}  // namespace
}  // namespace raid
