// SPDX-License-Identifier: GPL-2.0-or-later
// The SMART dump: what lands in the two files, in which order.
#include "health/smart_dump.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <vector>

namespace raid {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Fill(SmartStore& store, unsigned position, unsigned drive, SmartSectorKind kind,
          std::uint8_t value) {
  std::array<std::uint8_t, kSmartPartSize> part{};
  part.fill(value);
  for (std::size_t index = 0; index < kSmartParts; ++index)
    store.StorePart(position, drive, kind, index, part);
}

TEST(SmartDump, WritesTheFirstEnclosuresDataThenItsThresholds) {
  const testing::TempFolder folder("raidgui-smart-dump-");
  std::atomic<bool> thresholds_read{false};
  SmartStore store(thresholds_read);
  Fill(store, 0, 0, SmartSectorKind::kData, 0xD0);
  Fill(store, 0, 1, SmartSectorKind::kData, 0xD1);
  Fill(store, 0, 0, SmartSectorKind::kThresholds, 0x70);
  Fill(store, 0, 1, SmartSectorKind::kThresholds, 0x71);
  Fill(store, 1, 0, SmartSectorKind::kData, 0xEE);  // the second enclosure is not dumped

  const SmartDumpResult result = DumpSmartSectors(folder, store);
  std::vector<std::uint8_t> data(512, 0xD0);
  data.resize(1024, 0xD1);
  std::vector<std::uint8_t> thresholds(512, 0x70);
  thresholds.resize(1024, 0x71);
  EXPECT_EQ(result.data.written, folder / "dSMART00.bin");
  EXPECT_EQ(Contents(folder / "dSMART00.bin"), data);
  EXPECT_EQ(result.data.panel_text, "Svae File OK :" + (folder / "dSMART00.bin").string());
  EXPECT_EQ(result.thresholds.written, folder / "sSMART00.bin");
  EXPECT_EQ(Contents(folder / "sSMART00.bin"), thresholds);

  // A second dump takes the next names.
  EXPECT_EQ(DumpSmartSectors(folder, store).data.written, folder / "dSMART01.bin");
}

}  // namespace
}  // namespace raid
