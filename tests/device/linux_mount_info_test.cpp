// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/linux/mount_info.h"

#include <gtest/gtest.h>

namespace raid {
namespace {

TEST(MountInfo, ReadsDeviceMountPointTypeAndSourceWhateverTheOptionalFields) {
  const auto entries = ParseMountInfo(
      "22 1 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n"
      "23 22 0:21 / /proc rw,nosuid shared:12 master:3 - proc proc rw\n"
      "24 22 8:17 /sub /media/usb rw shared:1 - vfat /dev/sdb1 rw,fmask=0022\n");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].major, 8u);
  EXPECT_EQ(entries[0].minor, 1u);
  EXPECT_EQ(entries[0].mount_point, "/");
  EXPECT_EQ(entries[0].fs_type, "ext4");
  EXPECT_EQ(entries[0].source, "/dev/sda1");
  EXPECT_EQ(entries[1].mount_point, "/proc");
  EXPECT_EQ(entries[1].source, "proc");
  EXPECT_EQ(entries[2].minor, 17u);
  EXPECT_EQ(entries[2].mount_point, "/media/usb");
  EXPECT_EQ(entries[2].fs_type, "vfat");
}

TEST(MountInfo, UndoesTheKernelsOctalEscapes) {
  const auto entries =
      ParseMountInfo("30 22 8:33 / /media/My\\040Disk\\011x rw - exfat /dev/disk\\134y rw\n");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].mount_point, "/media/My Disk\tx");
  EXPECT_EQ(entries[0].source, "/dev/disk\\y");
  // A backslash without three octal digits stays as it is.
  EXPECT_EQ(UnescapeMountField("a\\09b\\04"), "a\\09b\\04");
}

TEST(MountInfo, SkipsLinesWithoutTheMountInfoShape) {
  const auto entries = ParseMountInfo(
      "\n"
      "garbage\n"
      "22 1 8:1 / / rw ext4 /dev/sda1 rw\n"         // no separator
      "22 1 8-1 / / rw - ext4 /dev/sda1 rw\n"       // no major:minor
      "22 1 8:1 / / rw - ext4\n"                    // no source
      "25 22 8:2 / /home rw - ext4 /dev/sda2 rw");  // last line without a line feed
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].mount_point, "/home");
}

}  // namespace
}  // namespace raid
