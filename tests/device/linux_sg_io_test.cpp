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
  EXPECT_EQ(request.timeout, 3000u * 1000);

  // Seconds become milliseconds without overflowing the 32-bit field.
  ScsiDataIn slow = disk.captured;
  slow.timeout_seconds = 5'000'000;
  EXPECT_EQ(MakeSgIoRequest(slow, sense).timeout, UINT_MAX);
}

TEST(SgIoRequest, OnlyACleanCompletionCounts) {
  sg_io_hdr_t done{};
  done.info = SG_INFO_OK;
  EXPECT_TRUE(SgIoSucceeded(0, done));
  EXPECT_FALSE(SgIoSucceeded(-1, done));

  sg_io_hdr_t check = done;
  check.info = SG_INFO_CHECK;
  EXPECT_FALSE(SgIoSucceeded(0, check));
  // CHECK CONDITION with a "recovered error" sense is still not trusted.
  check.status = 0x02;
  check.masked_status = 0x01;
  check.sb_len_wr = 18;
  EXPECT_FALSE(SgIoSucceeded(0, check));

  sg_io_hdr_t host = done;
  host.host_status = 0x03;  // DID_TIME_OUT
  EXPECT_FALSE(SgIoSucceeded(0, host));
  sg_io_hdr_t driver = done;
  driver.driver_status = 0x08;  // DRIVER_SENSE
  EXPECT_FALSE(SgIoSucceeded(0, driver));
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
  EXPECT_FALSE(ExecuteSgIo(fd, command));
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
