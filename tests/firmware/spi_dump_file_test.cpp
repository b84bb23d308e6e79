// SPDX-License-Identifier: GPL-2.0-or-later
#include "firmware/spi_dump_file.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace raid {
namespace {

namespace fs = std::filesystem;

class SpiDumpFileTest : public ::testing::Test {
 protected:
  void Touch(const std::string& name) { std::ofstream(folder_ / name, std::ios::binary) << "x"; }
  // Takes "dSMART0" + every character of `counters`.
  void TakeNames(const std::string& counters) {
    for (char c : counters)
      Touch(std::string("dSMART0") + c + ".bin");
  }
  std::vector<std::uint8_t> Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  testing::TempFolder folder_{"raidgui-spi-dump-"};
  const std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(1024, 0xA5);
};

TEST_F(SpiDumpFileTest, WritesTheWholeBufferToTheFirstNameOfItsKind) {
  const SpiDumpResult data = GetSPIFWInfo(folder_, kSpiDumpSmartData, buffer_);
  EXPECT_EQ(data.written, folder_ / "dSMART00.bin");
  EXPECT_EQ(data.panel_text, "Svae File OK :" + (folder_ / "dSMART00.bin").string());
  EXPECT_TRUE(data.messages.empty());
  EXPECT_EQ(Contents(folder_ / "dSMART00.bin"), buffer_);

  const SpiDumpResult thresholds = GetSPIFWInfo(folder_, kSpiDumpSmartThresholds, buffer_);
  EXPECT_EQ(thresholds.written, folder_ / "sSMART00.bin");
  EXPECT_EQ(Contents(folder_ / "sSMART00.bin"), buffer_);
}

TEST_F(SpiDumpFileTest, AdvancesTheEighthCharacterPastTakenNames) {
  TakeNames("012345678");
  EXPECT_EQ(GetSPIFWInfo(folder_, kSpiDumpSmartData, buffer_).written, folder_ / "dSMART09.bin");
  EXPECT_EQ(GetSPIFWInfo(folder_, kSpiDumpSmartData, buffer_).written, folder_ / "dSMART0A.bin");
  TakeNames("BCDEFGHIJKLMNOPQRSTUVWXY");
  const SpiDumpResult last = GetSPIFWInfo(folder_, kSpiDumpSmartData, buffer_);
  EXPECT_EQ(last.written, folder_ / "dSMART0Z.bin");
  EXPECT_EQ(Contents(folder_ / "dSMART0Z.bin"), buffer_);
  // The other kind's names are its own.
  EXPECT_EQ(GetSPIFWInfo(folder_, kSpiDumpSmartThresholds, buffer_).written,
            folder_ / "sSMART00.bin");
}

TEST_F(SpiDumpFileTest, WritesNothingOnceEveryNameUpToZIsTaken) {
  TakeNames("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  const auto before = std::distance(fs::directory_iterator(folder_), fs::directory_iterator());
  const SpiDumpResult result = GetSPIFWInfo(folder_, kSpiDumpSmartData, buffer_);
  EXPECT_FALSE(result.written.has_value());
  EXPECT_EQ(result.panel_text, "Create File Error" + (folder_ / "dSMART0Z.bin").string());
  EXPECT_TRUE(result.messages.empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), before);
  EXPECT_EQ(Contents(folder_ / "dSMART0Z.bin"), std::vector<std::uint8_t>{'x'});
}

TEST_F(SpiDumpFileTest, ReportsAFileThatCannotBeCreated) {
  const SpiDumpResult result = GetSPIFWInfo(folder_ / "gone", kSpiDumpSmartData, buffer_);
  EXPECT_FALSE(result.written.has_value());
  EXPECT_FALSE(result.panel_text.has_value());
  const MessageBoxRequest create_failed{"GetSPIFWInfo:", "Fail to create file",
                                        MessageIcon::kError};
  EXPECT_EQ(result.messages, std::vector{create_failed});
}

// Whoever can write in the folder may put a link at the free name between our look and our
// write: the dump never goes through it, whatever it leads to.
TEST_F(SpiDumpFileTest, ALinkPutAtTheFreeNameIsNeverWrittenThrough) {
  const fs::path victim = folder_ / "victim";
  Touch("victim");
  std::atomic<bool> done{false};
  std::thread planter([&] {
    while (!done) {
      std::error_code failure;  // only its own link is taken away again
      fs::create_symlink(victim, folder_ / "dSMART00.bin", failure);
      if (!failure) fs::remove(folder_ / "dSMART00.bin", failure);
    }
  });
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  int written = 0;
  while (std::chrono::steady_clock::now() < end && Contents(victim).size() == 1) {
    const SpiDumpResult result = GetSPIFWInfo(folder_, kSpiDumpSmartData, buffer_);
    if (result.written) {
      ++written;
      std::error_code ignored;
      fs::remove(*result.written, ignored);
    }
  }
  done = true;
  planter.join();
  EXPECT_EQ(Contents(victim), std::vector<std::uint8_t>{'x'});
  EXPECT_GT(written, 0);
}

}  // namespace
}  // namespace raid
