// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/tracing_disk_system.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device/scsi_commands.h"
#include "support/temp_folder.h"

#ifndef _WIN32
#include <sys/stat.h>

#include <future>

#include "support/other_user.h"
#endif

namespace raid {
namespace {

namespace fs = std::filesystem;

// A host with drives 0-2, the volume "C" and any volume under /media; drive 3 and up refuse
// to open. Every
// command is answered with 0x5A bytes and remembered.
class FakeDiskSystem : public DiskSystem {
 public:
  struct Log {
    std::atomic<int> commands{0};
    std::atomic<int> closes{0};
  };

  class FakeDisk : public Disk {
   public:
    explicit FakeDisk(Log& log) : log_(log) {}
    ~FakeDisk() override { ++log_.closes; }
    ScsiOutcome ExecuteDataIn(const ScsiDataIn& command) override {
      ++log_.commands;
      std::fill(command.data.begin(), command.data.end(), 0x5A);
      return ScsiOutcome::Completed();
    }
    std::optional<DiskExtent> VolumeDiskExtent() override { return DiskExtent{2, 1024, 4096}; }
    DiskIdentity Identity() override { return "fake"; }

   private:
    Log& log_;
  };

  explicit FakeDiskSystem(Log& log) : log_(log) {}

  std::unique_ptr<Disk> OpenPhysicalDrive(unsigned number, OpenFailure* why) override {
    if (number >= 3) {
      if (why != nullptr) *why = OpenFailure::kAccessDenied;
      return nullptr;
    }
    return std::make_unique<FakeDisk>(log_);
  }
  std::unique_ptr<Disk> OpenVolume(const std::string& volume, OpenFailure* why) override {
    if (volume != "C" && !volume.starts_with("/media/")) {
      if (why != nullptr) *why = OpenFailure::kNotFound;
      return nullptr;
    }
    return std::make_unique<FakeDisk>(log_);
  }
  std::vector<std::string> LogicalVolumes() override { return {"C", "/media/usb"}; }
  DriveType VolumeDriveType(const std::string&) override { return DriveType::kRemovable; }
  std::string PhysicalDrivePath(unsigned number) override {
    return "fake" + std::to_string(number);
  }

 private:
  Log& log_;
};

void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value == nullptr ? "" : value);
#else
  if (value == nullptr) {
    unsetenv(name);
  } else {
    setenv(name, value, 1);
  }
#endif
}

class TraceTest : public ::testing::Test {
 protected:
  void TearDown() override { SetEnvironment(kTraceEnvironmentVariable, nullptr); }

  std::unique_ptr<DiskSystem> Traced() {
    std::string problem;
    auto system =
        WrapWithTraceFile(std::make_unique<FakeDiskSystem>(log_), path_.string(), &problem);
    EXPECT_EQ(problem, "");
    return system;
  }

  std::string TraceText() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  FakeDiskSystem::Log log_;
  testing::TempFolder folder_{std::string("raidgui-trace-") +
                              ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                              "-"};
  fs::path path_ = folder_ / "trace.txt";
};

TEST_F(TraceTest, RecordsEachCommandInItsExactForm) {
  auto system = Traced();
  std::array<std::uint8_t, 512> block{};
  std::array<std::uint8_t, kInquiryLength> inquiry{};
  {
    auto disk = system->OpenPhysicalDrive(2);
    ASSERT_NE(disk, nullptr);
    EXPECT_TRUE(PassThroughRead(*disk, 0x5FFF, 1, block));
    EXPECT_TRUE(PassThroughRead(*disk, 0xABCDEF01, 1, block));
    EXPECT_TRUE(PassThroughInquiry(*disk, inquiry));
  }
  {
    auto volume = system->OpenVolume("C");
    ASSERT_NE(volume, nullptr);
    // The extents query is a question to the operating system, not a command to the disk.
    EXPECT_EQ(volume->VolumeDiskExtent()->disk_number, 2u);
  }
  {
    auto volume = system->OpenVolume("/media/usb");
    ASSERT_NE(volume, nullptr);
    std::array<std::uint8_t, 2 * 512> two{};
    EXPECT_TRUE(PassThroughRead(*volume, 17, 2, two));
  }
  EXPECT_EQ(TraceText(),
            "open 2\n"
            "read 00005fff 1\n"
            "read abcdef01 1\n"
            "inquiry\n"
            "close\n"
            "open C\n"
            "close\n"
            "open /media/usb\n"
            "read 00000011 2\n"
            "close\n");
  // The trace passes answers through untouched.
  EXPECT_EQ(block[511], 0x5A);
  EXPECT_EQ(inquiry[35], 0x5A);
  EXPECT_EQ(log_.commands.load(), 4);
  EXPECT_EQ(log_.closes.load(), 3);
}

TEST_F(TraceTest, WritesNothingButCommands) {
  auto system = Traced();
  OpenFailure why = OpenFailure::kNone;
  EXPECT_EQ(system->OpenPhysicalDrive(3, &why), nullptr);  // failed opens never reached a disk
  EXPECT_EQ(why, OpenFailure::kAccessDenied);
  EXPECT_EQ(system->OpenVolume("/nowhere", &why), nullptr);
  EXPECT_EQ(why, OpenFailure::kNotFound);
  EXPECT_EQ(system->LogicalVolumes(), (std::vector<std::string>{"C", "/media/usb"}));
  EXPECT_EQ(system->VolumeDriveType("C"), DriveType::kRemovable);
  EXPECT_EQ(system->PhysicalDrivePath(1), "fake1");
  EXPECT_EQ(TraceText(), "");
}

TEST_F(TraceTest, AppendsToAnExistingTraceAndKeepsOneLinePerCommand) {
  { std::ofstream(path_, std::ios::binary) << "open 0\nclose\n"; }
  auto system = Traced();
  std::array<std::uint8_t, 512> block{};
  auto disk = system->OpenPhysicalDrive(1);
  ASSERT_NE(disk, nullptr);
  EXPECT_TRUE(PassThroughRead(*disk, 0, 1, block));
  disk.reset();
  // A mount point may hold a line feed or a backslash: escaped as the kernel does.
  EXPECT_NE(system->OpenVolume("/media/a\nb\\c"), nullptr);
  EXPECT_EQ(TraceText(),
            "open 0\nclose\n"
            "open 1\nread 00000000 1\nclose\n"
            "open /media/a\\012b\\134c\nclose\n");
}

TEST(TraceLine, ACommandOtherThanReadOrInquiryIsShownNotHidden) {
  ScsiDataIn write;
  write.cdb = {0x2A, 0, 0, 0, 0, 0x11, 0, 0, 1, 0};
  EXPECT_EQ(TraceLineFor(write), "cdb 2a 00 00 00 00 11 00 00 01 00");
  write.cdb_length = 6;
  EXPECT_EQ(TraceLineFor(write), "cdb 2a 00 00 00 00 11");
}

TEST_F(TraceTest, LinesFromSeveralThreadsNeverInterleave) {
  auto system = Traced();
  constexpr int kReads = 500;
  auto worker = [&](unsigned drive) {
    auto disk = system->OpenPhysicalDrive(drive);
    std::array<std::uint8_t, 512> block{};
    for (int i = 0; i < kReads; ++i)
      PassThroughRead(*disk, 0x10000 * drive + i, 1, block);
  };
  std::thread first(worker, 0);
  std::thread second(worker, 1);
  first.join();
  second.join();

  std::istringstream lines(TraceText());
  std::map<std::string, int> counts;
  std::set<std::string> distinct;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("read ")) {
      EXPECT_EQ(line.size(), std::string("read 00000000 1").size()) << line;
      distinct.insert(line);
      ++counts["read"];
    } else {
      ++counts[line];
    }
  }
  EXPECT_EQ(counts["read"], 2 * kReads);
  EXPECT_EQ(distinct.size(), 2u * kReads);
  EXPECT_EQ(counts["open 0"], 1);
  EXPECT_EQ(counts["open 1"], 1);
  EXPECT_EQ(counts["close"], 2);
  EXPECT_EQ(counts.size(), 4u);
}

TEST_F(TraceTest, EnvironmentSwitchesTheTraceOn) {
  FakeDiskSystem::Log log;
  auto* inner = new FakeDiskSystem(log);
  std::string problem;

  SetEnvironment(kTraceEnvironmentVariable, nullptr);
  auto unset = WrapWithTraceFromEnvironment(std::unique_ptr<DiskSystem>(inner), &problem);
  EXPECT_EQ(unset.get(), inner);

  SetEnvironment(kTraceEnvironmentVariable, "");
  auto empty = WrapWithTraceFromEnvironment(std::move(unset), &problem);
  EXPECT_EQ(empty.get(), inner);
  EXPECT_EQ(problem, "");

  const std::string unwritable = (folder_ / "missing-folder" / "trace.txt").string();
  SetEnvironment(kTraceEnvironmentVariable, unwritable.c_str());
  auto failed = WrapWithTraceFromEnvironment(std::move(empty), &problem);
  EXPECT_EQ(failed.get(), inner);
  EXPECT_NE(problem.find(unwritable), std::string::npos) << problem;

  problem.clear();
  SetEnvironment(kTraceEnvironmentVariable, path_.string().c_str());
  auto traced = WrapWithTraceFromEnvironment(std::move(failed), &problem);
  EXPECT_NE(traced.get(), inner);
  EXPECT_EQ(problem, "");
  traced->OpenPhysicalDrive(0);
  EXPECT_EQ(TraceText(), "open 0\nclose\n");
}

#ifndef _WIN32
// RAIDGUI_TRACE naming a FIFO once made every program hang at start; a device or a folder is no
// trace either, and a link another user planted must not choose the file we append to.
TEST_F(TraceTest, TraceThatIsNoRegularFileOrAnotherUsersLinkIsRefusedAtOnce) {
  ASSERT_EQ(::mkfifo((folder_ / "fifo").c_str(), 0600), 0);
  const struct {
    std::string path;
    std::string said;
  } cases[] = {
      {(folder_ / "fifo").string(), "is not a regular file (a FIFO)"},
      {"/dev/null", "is not a regular file (a character device)"},
      {folder_.path().string(), "is not a regular file (a folder)"},
  };
  for (const auto& item : cases) {
    auto opening = std::async(std::launch::async, [&] {
      std::string problem;
      WrapWithTraceFile(std::make_unique<FakeDiskSystem>(log_), item.path, &problem);
      return problem;
    });
    ASSERT_EQ(opening.wait_for(std::chrono::seconds(10)), std::future_status::ready) << item.path;
    const std::string problem = opening.get();
    EXPECT_NE(problem.find("Cannot open the trace file " + item.path), std::string::npos);
    EXPECT_NE(problem.find(item.said), std::string::npos) << problem;
  }

  if (!testing::IsRoot()) GTEST_SKIP() << "needs root to plant another user's link";
  ASSERT_TRUE(testing::PlantOthersLink(path_, folder_ / "planted"));
  std::string problem;
  auto system = WrapWithTraceFile(std::make_unique<FakeDiskSystem>(log_),
                                  (folder_ / "planted").string(), &problem);
  EXPECT_NE(problem.find("is a symbolic link owned by another user"), std::string::npos) << problem;
  system->OpenPhysicalDrive(0);
  EXPECT_FALSE(fs::exists(path_));
}
#endif

}  // namespace
}  // namespace raid
