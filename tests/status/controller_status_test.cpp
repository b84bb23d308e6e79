// SPDX-License-Identifier: GPL-2.0-or-later
#include "status/controller_status.h"

#include <gtest/gtest.h>

#include <array>

#include "common/bytes.h"
#include "common/text_helpers.h"

namespace raid {
namespace {

// An array-status reply as the controller sends it: port blocks of 76 bytes at 84 and 160.
struct Reply {
  std::array<std::uint8_t, 512> bytes{};
  void Port(std::size_t block, std::uint8_t code, const char* model, const char* serial,
            std::uint64_t sectors) {
    bytes[block] = code;
    WriteSwappedText(bytes, block + 4, 40, model);
    WriteSwappedText(bytes, block + 44, 20, serial);
    WriteBigEndian(bytes, block + 70, 6, sectors);
  }
};

IdentificationBlock PortOrder(bool hdd1_first) {
  IdentificationBlock id{};
  id[49] = hdd1_first ? 0x13 : 0x03;
  return id;
}

TEST(DecodeArrayStatus, PortOrderBitDecidesWhichBlockIsHdd1) {
  Reply reply;
  reply.bytes[80] = 2;
  reply.Port(84, 0, "FIRST BLOCK", "S84", 1000);
  reply.Port(160, 0, "SECOND BLOCK", "S160", 2000);

  ControllerStatus record;
  EXPECT_EQ(DecodeArrayStatus(reply.bytes, PortOrder(true), record), 0);
  EXPECT_EQ(record.DriveModel(0), "FIRST BLOCK");
  EXPECT_EQ(record.DriveCapacity(1), 2000U);
  EXPECT_EQ(record.DriveFlags(), 0x22);
  EXPECT_EQ(ModeName(record.Mode()), "Mirroring(RAID1)");

  DecodeArrayStatus(reply.bytes, PortOrder(false), record);
  EXPECT_EQ(record.DriveModel(0), "SECOND BLOCK");
  EXPECT_EQ(record.DriveSerial(1).substr(0, 3), "S84");
  EXPECT_EQ(record.DriveCapacity(0), 2000U);
  // Capacities are stored least significant byte first.
  EXPECT_EQ(record.bytes[296], 2000 & 0xFF);
  EXPECT_EQ(record.bytes[297], 2000 >> 8);
}

TEST(DecodeArrayStatus, RebuildTargetOnHdd2SetsPresentAndActivityBitOne) {
  Reply reply;
  reply.Port(84, 0, "A", "1", 10);
  reply.Port(160, 1, "B", "2", 10);
  ControllerStatus record;
  EXPECT_EQ(DecodeArrayStatus(reply.bytes, PortOrder(true), record), 0x02);
  EXPECT_EQ(record.DriveFlags(), 0x22);
  EXPECT_EQ(record.Activity(), 0x02);
  EXPECT_EQ(record.PortState(1), 1);
}

TEST(DecodeArrayStatus, UnknownPortCodesMeanAbsentAndKeepTheLastKnownDrive) {
  Reply present;
  present.Port(84, 0, "KEPT MODEL", "KEPT SERIAL", 777);
  present.Port(160, 0, "OTHER", "X", 5);
  for (std::uint8_t code : {2, 3, 4, 5, 7, 8, 10, 0x7F, 0xFF}) {
    ControllerStatus record;
    DecodeArrayStatus(present.bytes, PortOrder(true), record);
    Reply gone;
    gone.Port(84, code, "", "", 0);
    gone.Port(160, 0, "OTHER", "X", 5);
    DecodeArrayStatus(gone.bytes, PortOrder(true), record);
    EXPECT_EQ(record.DriveFlags(), 0x24) << "code " << int{code};
    EXPECT_EQ(record.PortState(0), code);
    EXPECT_EQ(record.DriveModel(0), "KEPT MODEL");
    EXPECT_EQ(record.DriveCapacity(0), 777U);
  }
}

TEST(DecodeArrayStatus, InsertedAndTooSmallCodes) {
  Reply reply;
  reply.Port(84, 6, "NEW", "N", 1);
  reply.Port(160, 9, "SMALL", "S", 1);
  ControllerStatus record;
  DecodeArrayStatus(reply.bytes, PortOrder(true), record);
  EXPECT_EQ(record.DriveFlags(), 0x81);
  EXPECT_EQ(record.DriveModel(1), "SMALL ");  // never trimmed below six characters
}

TEST(DecodeArrayStatus, ActivityBitsBeyondTheRebuildAreCleared) {
  Reply reply;
  ControllerStatus record;
  record.bytes[105] = 0xFC;
  DecodeArrayStatus(reply.bytes, PortOrder(true), record);
  EXPECT_EQ(record.Activity(), 0);
}

TEST(ArrayModeFromRaw, MapsControllerModes) {
  EXPECT_EQ(ModeName(ArrayModeFromRaw(0)), "JBOD");
  EXPECT_EQ(ModeName(ArrayModeFromRaw(1)), "Striping(RAID0)");
  EXPECT_EQ(ModeName(ArrayModeFromRaw(2)), "Mirroring(RAID1)");
  EXPECT_EQ(ModeName(ArrayModeFromRaw(7)), "Bypass");
}

TEST(ProgressPercent, TruncatesClampsAndSurvivesAMissingTotal) {
  std::array<std::uint8_t, 512> reply{};
  reply[84] = 2;
  WriteBigEndian(reply, 94, 6, 3000);
  WriteBigEndian(reply, 119, 5, 2999);
  EXPECT_TRUE(RebuildRunning(reply));
  EXPECT_EQ(ProgressPercent(reply), 99);
  WriteBigEndian(reply, 119, 5, 3045);  // a current sector past the total reads as done
  EXPECT_EQ(ProgressPercent(reply), 100);
  WriteBigEndian(reply, 94, 6, 0);
  EXPECT_EQ(ProgressPercent(reply), 0);
}

TEST(ControllerStatus, TextsUseTheLow40BitsOfTheArrayCapacity) {
  ControllerStatus record;
  record.SetArrayCapacity((std::uint64_t{0xAB} << 40) | 1953525168);
  EXPECT_EQ(record.ArrayCapacity(), 1953525168U);
}

}  // namespace
}  // namespace raid
