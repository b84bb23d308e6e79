// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/windows/windows_disk_system.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>

#include "device/platform_disk_system.h"
#include "device/scsi_commands.h"
#include "device/windows/exchange_mutex.h"
#include "device/windows/pass_through_record.h"
#include "support/capturing_disk.h"

namespace raid {
namespace {

using testing::CapturingDisk;

TEST(PassThroughRecord, SizesAndOffsetsAreThoseOfThisBuildsOwnLayout) {
  CapturingDisk disk;
  std::array<std::uint8_t, 512> block{};
  ASSERT_TRUE(PassThroughRead(disk, 0x1FF80, 1, block));
  PassThroughRecord record;
  std::memset(&record, 0xCC, sizeof record);
  ASSERT_TRUE(FillPassThroughRecord(disk.captured, record));

  const SCSI_PASS_THROUGH_DIRECT& request = record.request;
  EXPECT_EQ(request.Length, sizeof(void*) == 8 ? 56 : 44);
  EXPECT_EQ(request.SenseInfoOffset, sizeof(void*) == 8 ? 56u : 48u);
  EXPECT_EQ(request.PathId, 0);
  EXPECT_EQ(request.TargetId, 1);
  EXPECT_EQ(request.Lun, 0);
  EXPECT_EQ(request.CdbLength, 10);
  EXPECT_EQ(request.SenseInfoLength, 24);
  EXPECT_EQ(request.DataIn, SCSI_IOCTL_DATA_IN);
  EXPECT_EQ(request.DataTransferLength, 512u);
  EXPECT_EQ(request.TimeOutValue, 30u);
  EXPECT_EQ(request.DataBuffer, block.data());
  EXPECT_EQ(request.Cdb[0], 0x28);
  EXPECT_EQ(request.Cdb[3], 0x01);
  EXPECT_EQ(request.Cdb[4], 0xFF);
  EXPECT_EQ(request.Cdb[5], 0x80);
  EXPECT_EQ(request.Cdb[8], 1);
  // Zero-filled: nothing left over from before in the status or the sense area.
  EXPECT_EQ(request.ScsiStatus, 0);
  EXPECT_EQ(request.Cdb[10], 0);
  for (const UCHAR byte : record.sense)
    EXPECT_EQ(byte, 0);
}

// Holders of the same disk's mutex take turns; another disk's mutex is another mutex. Each
// holder runs on its own thread, as a mutex belongs to the thread that took it.
TEST(ExchangeMutex, HoldersOfOneDiskTakeTurnsAndGiveUpAfterTheirWait) {
  std::atomic<bool> holding{false};
  std::atomic<bool> let_go{false};
  std::thread holder([&] {
    ExchangeMutex mine("PhysicalDrive7-test");
    EXPECT_TRUE(mine.Acquire(0));
    holding = true;
    while (!let_go)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  while (!holding)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));

  {
    ExchangeMutex other("PhysicalDrive7-test");
    EXPECT_FALSE(other.Acquire(60));
    ExchangeMutex another_disk("PhysicalDrive8-test");
    EXPECT_TRUE(another_disk.Acquire(0));
  }
  ExchangeMutex waiter("PhysicalDrive7-test");
  const auto start = std::chrono::steady_clock::now();
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    let_go = true;
  });
  EXPECT_TRUE(waiter.Acquire(10000));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  releaser.join();
  holder.join();
}

TEST(WindowsDiskSystem, MissingDrivesAndVolumesFailAsValues) {
  auto disks = CreatePlatformDiskSystem();
  EXPECT_EQ(disks->PhysicalDrivePath(9), "\\\\.\\PhysicalDrive9");
  OpenFailure why = OpenFailure::kNone;
  EXPECT_EQ(disks->OpenPhysicalDrive(9, &why), nullptr);
  EXPECT_NE(why, OpenFailure::kNone);

  why = OpenFailure::kNone;
  EXPECT_EQ(disks->OpenVolume("C:\\", &why), nullptr);  // volumes are named by the letter alone
  EXPECT_EQ(why, OpenFailure::kNotFound);
  EXPECT_EQ(disks->VolumeDriveType("CD"), DriveType::kNoRootDir);
}

TEST(WindowsDiskSystem, VolumesAreDriveLettersFromC) {
  auto disks = CreatePlatformDiskSystem();
  const std::vector<std::string> volumes = disks->LogicalVolumes();
  ASSERT_FALSE(volumes.empty()) << "every Windows (and Wine) host has a C: drive";
  EXPECT_EQ(volumes.front(), "C");
  for (std::size_t i = 0; i < volumes.size(); ++i) {
    ASSERT_EQ(volumes[i].size(), 1u);
    EXPECT_GE(volumes[i][0], 'C');
    EXPECT_LE(volumes[i][0], 'Z');
    if (i > 0) {
      EXPECT_LT(volumes[i - 1][0], volumes[i][0]);
    }
  }
  EXPECT_EQ(disks->VolumeDriveType("C"), DriveType::kFixed);
}

// Reads only: INQUIRY and block 0 of the first physical drive that answers pass-through.
TEST(WindowsDiskSystem, InquiryAndBlockZeroOfTheFirstAnsweringDrive) {
  auto disks = CreatePlatformDiskSystem();
  for (unsigned number = 0; number < 16; ++number) {
    auto disk = disks->OpenPhysicalDrive(number);
    if (disk == nullptr) continue;
    std::array<std::uint8_t, kInquiryLength> inquiry{};
    if (!PassThroughInquiry(*disk, inquiry)) continue;
    std::array<std::uint8_t, 512> block{};
    EXPECT_TRUE(PassThroughRead(*disk, 0, 1, block)) << disks->PhysicalDrivePath(number);
    return;
  }
  GTEST_SKIP() << "no drive answers SCSI pass-through here (Wine answers \"not supported\"; "
                  "Windows needs an elevated test run)";
}

}  // namespace
}  // namespace raid
