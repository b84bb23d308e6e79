// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/linux/linux_disk_system.h"

#include "device/linux/sysfs_block.h"
#include "support/other_user.h"
#include "support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace raid {
namespace {

namespace fs = std::filesystem;

// A fake /sys, /dev and /proc/self/mountinfo in a temporary folder, laid out as the kernel does:
// a device's folder under sys/devices, a partition's folder inside its disk's, and relative
// links from sys/block and sys/dev/block.
class FakeHost {
 public:
  FakeHost() {
    fs::create_directories(root_ / "sys/block");
    fs::create_directories(root_ / "sys/dev/block");
    fs::create_directories(root_ / "dev");
    fs::create_directories(root_ / "proc/self");
  }
  const fs::path& root() const { return root_; }

  // A whole disk under `bus` (a path below sys/devices), with its /dev node.
  void AddDisk(const std::string& bus, const std::string& name, unsigned major, unsigned minor,
               int removable, std::uint64_t sectors) {
    const fs::path dir = root_ / "sys/devices" / bus / "block" / name;
    fs::create_directories(dir);
    Write(dir / "removable", std::to_string(removable));
    Write(dir / "size", std::to_string(sectors));
    fs::create_directory_symlink(fs::path("../devices") / bus / "block" / name,
                                 root_ / "sys/block" / name);
    LinkDevice(major, minor, fs::path(bus) / "block" / name);
    Write(root_ / "dev" / name, "");
  }

  void AddPartition(const std::string& bus, const std::string& disk, const std::string& name,
                    unsigned major, unsigned minor, std::uint64_t start, std::uint64_t sectors) {
    const fs::path dir = root_ / "sys/devices" / bus / "block" / disk / name;
    fs::create_directories(dir);
    Write(dir / "partition", "1");
    Write(dir / "start", std::to_string(start));
    Write(dir / "size", std::to_string(sectors));
    LinkDevice(major, minor, fs::path(bus) / "block" / disk / name);
    Write(root_ / "dev" / name, "");
  }

  void SetMountInfo(const std::string& text) { Write(root_ / "proc/self/mountinfo", text); }

  static void Write(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text << "\n";
  }

 private:
  void LinkDevice(unsigned major, unsigned minor, const fs::path& below_devices) {
    fs::create_directory_symlink(
        fs::path("../../devices") / below_devices,
        root_ / "sys/dev/block" / (std::to_string(major) + ":" + std::to_string(minor)));
  }

  testing::TempFolder root_{"raidgui-host-"};
};

TEST(LinuxPhysicalDrives, NumberedByTheKernelsNameWhateverElseIsAttached) {
  FakeHost host;
  unsigned minor = 0;
  for (const char* name : {"sdb", "sdaa", "sdd", "sdz"}) {
    host.AddDisk("pci0/host0", name, 8, minor, 0, 8);
    minor += 16;
  }
  // Not whole SCSI disks: never numbered.
  host.AddDisk("virtual", "loop0", 7, 0, 0, 8);
  host.AddDisk("pci0/virtio1", "vda", 254, 0, 0, 8);
  host.AddDisk("pci0/ata2", "sr0", 11, 0, 1, 8);
  LinuxDiskSystem disks(host.root());

  EXPECT_EQ(disks.PhysicalDrivePath(0), "/dev/sda");
  EXPECT_EQ(disks.PhysicalDrivePath(3), "/dev/sdd");
  EXPECT_EQ(disks.PhysicalDrivePath(9), "/dev/sdj");
  EXPECT_EQ(disks.PhysicalDrivePath(25), "/dev/sdz");
  EXPECT_EQ(disks.PhysicalDrivePath(26), "/dev/sdaa");
  EXPECT_EQ(disks.PhysicalDrivePath(27), "/dev/sdab");

  for (unsigned n : {1U, 3U, 25U, 26U}) {
    OpenFailure why = OpenFailure::kOther;
    EXPECT_NE(disks.OpenPhysicalDrive(n, &why), nullptr) << n;
    EXPECT_EQ(why, OpenFailure::kNone);
  }
  // sda and sdc are not there: their numbers stay free rather than going to sdb and sdd.
  for (unsigned n : {0U, 2U, 4U}) {
    OpenFailure why = OpenFailure::kNone;
    EXPECT_EQ(disks.OpenPhysicalDrive(n, &why), nullptr) << n;
    EXPECT_EQ(why, OpenFailure::kNotFound);
  }
}

TEST(LinuxPhysicalDrives, DiskNamesAndNumbersMapBothWays) {
  for (unsigned n : {0U, 9U, 25U, 26U, 51U, 52U, 701U, 702U, 18277U}) {
    EXPECT_EQ(ScsiDiskNumber(ScsiDiskName(n)), n) << ScsiDiskName(n);
  }
  EXPECT_EQ(ScsiDiskName(701), "sdzz");
  EXPECT_EQ(ScsiDiskName(702), "sdaaa");
  for (const char* other : {"sd", "sda1", "sdA", "sr0", "vda", "dm-0", "sdaaaaaaaaa"}) {
    EXPECT_FALSE(ScsiDiskNumber(other).has_value()) << other;
  }
}

TEST(LinuxPhysicalDrives, ADiskThatTakesTheNameOfAnotherHasAnotherIdentity) {
  FakeHost host;
  host.AddDisk("pci0/usb1/1-2/host6", "sdb", 8, 16, 0, 8);
  FakeHost::Write(host.root() / "sys/block/sdb/diskseq", "14");
  LinuxDiskSystem disks(host.root());
  const DiskIdentity first = disks.OpenPhysicalDrive(1)->Identity();
  EXPECT_EQ(first, "diskseq 14");
  EXPECT_EQ(disks.OpenPhysicalDrive(1)->Identity(), first);  // the same disk, opened again

  FakeHost::Write(host.root() / "sys/block/sdb/diskseq", "17");  // unplugged, another plugged
  EXPECT_NE(disks.OpenPhysicalDrive(1)->Identity(), first);

  // Without diskseq (kernels before 5.15), the path through the buses tells them apart: a
  // replugged disk gets a new SCSI host.
  FakeHost older;
  older.AddDisk("pci0/usb1/1-2/host6", "sdb", 8, 16, 0, 8);
  LinuxDiskSystem old_disks(older.root());
  const DiskIdentity before = old_disks.OpenPhysicalDrive(1)->Identity();
  EXPECT_THAT(before, ::testing::HasSubstr("usb1/1-2/host6/block/sdb"));
  fs::remove(older.root() / "sys/block/sdb");
  fs::remove(older.root() / "sys/dev/block/8:16");
  older.AddDisk("pci0/usb1/1-2/host7", "sdb", 8, 16, 0, 8);
  EXPECT_NE(old_disks.OpenPhysicalDrive(1)->Identity(), before);
}

TEST(LinuxPhysicalDrives, ADiskWithoutItsNodeIsNotFound) {
  FakeHost host;
  host.AddDisk("pci0/host0", "sda", 8, 0, 0, 8);
  host.AddDisk("pci0/host0", "sdb", 8, 16, 0, 8);
  fs::remove(host.root() / "dev/sdb");  // listed in sysfs, node gone
  LinuxDiskSystem disks(host.root());
  OpenFailure why = OpenFailure::kNone;
  EXPECT_EQ(disks.OpenPhysicalDrive(1, &why), nullptr);
  EXPECT_EQ(why, OpenFailure::kNotFound);
}

TEST(LinuxPhysicalDrives, ADiskThisUserMayNotReadIsAccessDenied) {
  FakeHost host;
  host.AddDisk("pci0/host0", "sda", 8, 0, 0, 8);
  fs::permissions(host.root() / "dev/sda", fs::perms::none);
  const auto denied = [&] {
    OpenFailure why = OpenFailure::kNone;
    return LinuxDiskSystem(host.root()).OpenPhysicalDrive(0, &why) == nullptr &&
           why == OpenFailure::kAccessDenied;
  };
  // Root opens a node whatever its permissions: then another user tries.
  EXPECT_TRUE(testing::IsRoot() ? testing::RunAsOtherUser(denied) : denied());
}

// One exchange at a time per disk, whichever process sends it: a second opening of the disk
// (as another process's would be) waits for the first to be closed, and gives up after its wait.
TEST(LinuxPhysicalDrives, AHeldDiskKeepsOtherExchangesOutUntilItIsClosed) {
  FakeHost host;
  host.AddDisk("pci0/usb1/1-2/host6", "sdb", 8, 16, 0, 8);
  LinuxDiskSystem disks(host.root());
  std::unique_ptr<Disk> first = disks.OpenPhysicalDrive(1);
  std::unique_ptr<Disk> second = disks.OpenPhysicalDrive(1);
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(first->HoldAgainstOtherProcesses(0));
  EXPECT_FALSE(second->HoldAgainstOtherProcesses(60));

  // A waiter gets the disk as soon as the holder closes it, well within its wait.
  const auto start = std::chrono::steady_clock::now();
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    first.reset();
  });
  EXPECT_TRUE(second->HoldAgainstOtherProcesses(10000));
  const auto waited = std::chrono::steady_clock::now() - start;
  closer.join();
  EXPECT_GE(waited, std::chrono::milliseconds(150));
  EXPECT_LT(waited, std::chrono::seconds(5));

  // The hold is the disk's, not the number's: another disk is never kept out by it.
  host.AddDisk("pci0/usb1/1-3/host7", "sdc", 8, 32, 0, 8);
  EXPECT_TRUE(disks.OpenPhysicalDrive(2)->HoldAgainstOtherProcesses(0));
}

// sda (fixed, partitions 1 and 2), sdb (removable USB stick, partition 1), sdc (whole-disk file
// system), sr0, and dm-0 spanning sda2 and sdb1.
class LinuxVolumes : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.AddDisk("pci0/ata1/host0", "sda", 8, 0, 0, 1000000);
    host_.AddPartition("pci0/ata1/host0", "sda", "sda1", 8, 1, 2048, 409600);
    host_.AddPartition("pci0/ata1/host0", "sda", "sda2", 8, 2, 411648, 500000);
    host_.AddDisk("pci0/usb1/host6", "sdb", 8, 16, 1, 60000);
    host_.AddPartition("pci0/usb1/host6", "sdb", "sdb1", 8, 17, 32, 59000);
    host_.AddDisk("pci0/usb2/host7", "sdc", 8, 32, 0, 7000);
    host_.AddDisk("pci0/ata2/host1", "sr0", 11, 0, 1, 4000);
    host_.AddDisk("virtual", "dm-0", 254, 0, 0, 900000);
    host_.SetMountInfo(
        "21 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "22 21 0:5 / /dev rw shared:2 - devtmpfs udev rw\n"
        "23 21 0:21 / /proc rw - proc proc rw\n"
        "24 21 0:25 / /run rw - tmpfs tmpfs rw\n"
        "25 21 8:17 / /media/USB\\040STICK rw - vfat /dev/sdb1 rw\n"
        "26 21 254:0 / /srv rw - xfs /dev/mapper/vg-srv rw\n"
        "27 21 11:0 / /media/cdrom ro - iso9660 /dev/sr0 ro\n"
        "28 21 0:42 / /data rw - btrfs /dev/sdd rw\n"  // anonymous number, no node: skipped
        "29 21 8:2 / /home rw - ext4 /dev/sda2 rw\n"
        "30 21 8:32 / /backup rw - ext4 /dev/sdc rw\n"
        "31 21 8:2 / /media/USB\\040STICK rw - ext4 /dev/sda2 rw\n");  // mounted over
  }

  FakeHost host_;
  LinuxDiskSystem disks_{host_.root()};
};

TEST_F(LinuxVolumes, MountedBlockFileSystemsByMountPointInMountOrder) {
  EXPECT_EQ(disks_.LogicalVolumes(),
            (std::vector<std::string>{"/", "/media/USB STICK", "/srv", "/media/cdrom", "/home",
                                      "/backup"}));
}

TEST_F(LinuxVolumes, DriveTypesFollowTheBackingDevice) {
  EXPECT_EQ(disks_.VolumeDriveType("/"), DriveType::kFixed);
  EXPECT_EQ(disks_.VolumeDriveType("/backup"), DriveType::kFixed);
  EXPECT_EQ(disks_.VolumeDriveType("/media/cdrom"), DriveType::kCdRom);
  EXPECT_EQ(disks_.VolumeDriveType("/srv"), DriveType::kUnknown);
  EXPECT_EQ(disks_.VolumeDriveType("/proc"), DriveType::kNoRootDir);

  // A partition takes "removable" from its disk (above, the stick is hidden by a later mount).
  host_.SetMountInfo("25 21 8:17 / /media/stick rw - vfat /dev/sdb1 rw\n");
  EXPECT_EQ(disks_.VolumeDriveType("/media/stick"), DriveType::kRemovable);
}

TEST_F(LinuxVolumes, ExtentsGiveTheDiskNumberAndByteRange) {
  auto root = disks_.OpenVolume("/");
  ASSERT_NE(root, nullptr);
  const auto first = root->VolumeDiskExtent();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->disk_number, 0u);
  EXPECT_EQ(first->starting_offset, 2048u * 512);
  EXPECT_EQ(first->extent_length, 409600u * 512);

  // The later mount over the stick's mount point is the one that counts: sda2.
  auto over = disks_.OpenVolume("/media/USB STICK");
  ASSERT_NE(over, nullptr);
  EXPECT_EQ(over->VolumeDiskExtent()->starting_offset, 411648u * 512);

  auto whole = disks_.OpenVolume("/backup");
  ASSERT_NE(whole, nullptr);
  const auto backup = whole->VolumeDiskExtent();
  ASSERT_TRUE(backup.has_value());
  EXPECT_EQ(backup->disk_number, 2u);
  EXPECT_EQ(backup->starting_offset, 0u);
  EXPECT_EQ(backup->extent_length, 7000u * 512);
}

TEST_F(LinuxVolumes, VolumesOffSingleScsiDisksHaveNoExtent) {
  auto mapped = disks_.OpenVolume("/srv");
  ASSERT_NE(mapped, nullptr);
  EXPECT_FALSE(mapped->VolumeDiskExtent().has_value());
  auto cdrom = disks_.OpenVolume("/media/cdrom");
  ASSERT_NE(cdrom, nullptr);
  EXPECT_FALSE(cdrom->VolumeDiskExtent().has_value());
  // A physical drive handle is no volume.
  auto drive = disks_.OpenPhysicalDrive(0);
  ASSERT_NE(drive, nullptr);
  EXPECT_FALSE(drive->VolumeDiskExtent().has_value());

  OpenFailure why = OpenFailure::kNone;
  EXPECT_EQ(disks_.OpenVolume("/proc", &why), nullptr);
  EXPECT_EQ(why, OpenFailure::kNotFound);
}

TEST_F(LinuxVolumes, AVolumesDiskNumberIsItsDisksOwnWhateverElseIsGone) {
  // With sda gone, the USB stick is still physical drive 1.
  fs::remove(host_.root() / "sys/block/sda");
  host_.SetMountInfo("25 21 8:17 / /media/stick rw - vfat /dev/sdb1 rw\n");
  auto stick = disks_.OpenVolume("/media/stick");
  ASSERT_NE(stick, nullptr);
  const auto extent = stick->VolumeDiskExtent();
  ASSERT_TRUE(extent.has_value());
  EXPECT_EQ(extent->disk_number, 1u);
  EXPECT_EQ(extent->starting_offset, 32u * 512);
}

}  // namespace
}  // namespace raid
