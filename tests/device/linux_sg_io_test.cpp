// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/linux/sg_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

#include "device/platform_disk_system.h"
#include "device/scsi_commands.h"
#include "support/capturing_disk.h"

namespace raid {
namespace {

using testing::CapturingDisk;

TEST(SgIoRequest, CarriesTheCommandAndTheCallersBufferInPlace) {
  CapturingDisk disk;
  std::array<std::uint8_t, 512> block{};
  ASSERT_TRUE(PassThroughRead(disk, 0x5FFF, 1, block));
  SgSense sense{};
  const sg_io_hdr_t request = MakeSgIoRequest(disk.captured, sense);
  EXPECT_EQ(request.interface_id, 'S');
  EXPECT_EQ(request.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(request.cmd_len, 10);
  EXPECT_EQ(request.cmdp[0], 0x28);
  EXPECT_EQ(request.cmdp[5], 0xFF);
  EXPECT_EQ(request.dxferp, block.data());
  EXPECT_EQ(request.dxfer_len, 512u);
  EXPECT_EQ(request.sbp, sense.data());
  EXPECT_EQ(request.mx_sb_len, 32);
  EXPECT_EQ(request.timeout, 30u * 1000);

  // Seconds become milliseconds without overflowing the 32-bit field.
  ScsiDataIn slow = disk.captured;
  slow.timeout_seconds = 5'000'000;
  EXPECT_EQ(MakeSgIoRequest(slow, sense).timeout, UINT_MAX);
}

TEST(SgIoRequest, OnlyACleanCompletionWithGoodStatusDeliversTheBlock) {
  SgSense sense{};
  sg_io_hdr_t done{};
  done.info = SG_INFO_OK;
  EXPECT_TRUE(Delivered(SgIoOutcome(0, done, sense)));
  EXPECT_FALSE(Delivered(SgIoOutcome(-1, done, sense)));

  sg_io_hdr_t host = done;
  host.host_status = 0x03;  // DID_TIME_OUT
  EXPECT_FALSE(SgIoOutcome(0, host, sense).transported);
  sg_io_hdr_t driver = done;
  driver.driver_status = 0x06;  // DRIVER_TIMEOUT
  EXPECT_FALSE(SgIoOutcome(0, driver, sense).transported);
  sg_io_hdr_t short_transfer = done;
  short_transfer.resid = 512;
  EXPECT_FALSE(Delivered(SgIoOutcome(0, short_transfer, sense)));

  // UNIT ATTENTION after a bridge reset: carried, but the command was not executed. Even a
  // "recovered error" sense is not trusted.
  const std::array<std::uint8_t, 18> unit_attention = {0x70, 0, 0x06, 0, 0, 0,    0,
                                                       10,   0, 0,    0, 0, 0x29, 0x00};
  std::copy(unit_attention.begin(), unit_attention.end(), sense.begin());
  sg_io_hdr_t check = done;
  check.info = SG_INFO_CHECK;
  check.status = kScsiStatusCheckCondition;
  check.masked_status = 0x01;
  check.driver_status = 0x08;  // DRIVER_SENSE: sense data came back
  check.sb_len_wr = 18;
  const ScsiOutcome outcome = SgIoOutcome(0, check, sense);
  EXPECT_TRUE(outcome.transported);
  EXPECT_EQ(outcome.status, kScsiStatusCheckCondition);
  EXPECT_EQ(outcome.sense, (SenseCode{0x06, 0x29, 0x00}));
  EXPECT_FALSE(Delivered(outcome));
}

TEST(SenseData, FixedAndDescriptorFormatsAndNothingFromShortOrUnknownData) {
  const std::array<std::uint8_t, 14> fixed = {0xF0, 0, 0x03, 0, 0, 0, 0, 6, 0, 0, 0, 0, 0x11, 0x04};
  EXPECT_EQ(DecodeSense(fixed), (SenseCode{0x03, 0x11, 0x04}));
  const std::array<std::uint8_t, 8> descriptor = {0x72, 0x06, 0x29, 0x02, 0, 0, 0, 0};
  EXPECT_EQ(DecodeSense(descriptor), (SenseCode{0x06, 0x29, 0x02}));
  EXPECT_FALSE(DecodeSense(std::span<const std::uint8_t>(fixed.data(), 13)));
  const std::array<std::uint8_t, 18> vendor = {0x7F};
  EXPECT_FALSE(DecodeSense(vendor));
  EXPECT_FALSE(DecodeSense({}));
}

TEST(SgIoRequest, ANonScsiDescriptorFailsCleanly) {
  char name[] = "/tmp/raidgui-sgio-XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  ScsiDataIn command;
  command.cdb = {kOpInquiry, 0, 0, 0, kInquiryLength, 0, 0, 0, 0, 0};
  std::array<std::uint8_t, kInquiryLength> data{};
  command.data = data;
  command.timeout_seconds = 1;
  EXPECT_FALSE(Delivered(ExecuteSgIo(fd, command)));
  close(fd);
  std::remove(name);
}

// Reads only: INQUIRY and block 0 of the first SCSI disk this user may open.
TEST(SgIoRealDisk, InquiryAndBlockZeroOfTheFirstReadableDisk) {
  auto disks = CreatePlatformDiskSystem();
  std::unique_ptr<Disk> disk;
  unsigned number = 0;
  for (; number < 16 && disk == nullptr; ++number)
    disk = disks->OpenPhysicalDrive(number);
  if (disk == nullptr) GTEST_SKIP() << "no readable SCSI disk (/dev/sd*) on this machine";

  std::array<std::uint8_t, kInquiryLength> inquiry{};
  ASSERT_TRUE(PassThroughInquiry(*disk, inquiry)) << disks->PhysicalDrivePath(number - 1);
  for (std::size_t i = 8; i < 16; ++i) {
    EXPECT_TRUE(inquiry[i] >= 0x20 && inquiry[i] < 0x7F) << "vendor text, byte " << i;
  }
  std::array<std::uint8_t, 512> block{};
  block.fill(0xEE);
  ASSERT_TRUE(PassThroughRead(*disk, 0, 1, block));
}

}  // namespace
}  // namespace raid
