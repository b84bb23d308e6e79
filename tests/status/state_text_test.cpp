// SPDX-License-Identifier: GPL-2.0-or-later
#include "status/state_text.h"

#include <gtest/gtest.h>

namespace raid {
namespace {

ControllerStatus WithFlags(std::uint8_t drive_flags, std::uint8_t activity = 0,
                           std::uint8_t progress = 0) {
  ControllerStatus record;
  record.bytes[status_layout::kDriveFlags] = drive_flags;
  record.bytes[status_layout::kActivity] = activity;
  record.SetProgress(progress);
  return record;
}

TEST(StateText, FollowsHowManyDrivesArePresent) {
  EXPECT_EQ(StateText(WithFlags(0x22), false), "Normal");
  EXPECT_EQ(StateText(WithFlags(0x42), false), "Single HDD\nPresent");
  EXPECT_EQ(StateText(WithFlags(0x24), false), "Single HDD\nPresent");
  EXPECT_EQ(StateText(WithFlags(0x44), false), "Failure");
  EXPECT_EQ(StateText(WithFlags(0x48), false), "Failure");
  EXPECT_EQ(StateText(WithFlags(0x11), false), "Failure");
}

TEST(StateText, RebuildShowsPercentAndDirection) {
  EXPECT_EQ(StateText(WithFlags(0x22, 0x02, 37), false), "37%\n>>>>\nRebuilding");
  EXPECT_EQ(StateText(WithFlags(0x22, 0x01, 5), false), "5%\n<<<<\nRebuilding");
}

TEST(StateText, ScanOnlyOnFirmwareThatReportsScans) {
  EXPECT_EQ(StateText(WithFlags(0x22, 0x81, 12), true), "12%\nHDD1 Scan");
  EXPECT_EQ(StateText(WithFlags(0x22, 0x82, 12), true), "12%\nHDD2 Scan");
  EXPECT_EQ(StateText(WithFlags(0x22, 0x81, 12), false), "12%\n<<<<\nRebuilding");
}

}  // namespace
}  // namespace raid
