// SPDX-License-Identifier: GPL-2.0-or-later
#include "firmware/firmware_image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "support/temp_folder.h"

namespace raid {
namespace {

constexpr std::uint32_t kRecent = 0x16052013;  // well above the product-check bound

// Serves bytes from memory; a byte may fail a given number of times (or for ever, -1), and a
// read past the end fails the test. `reads` counts the bytes asked for up to and including a
// failing one, as a read per byte would have.
class FakeSource : public FirmwareByteSource {
 public:
  explicit FakeSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

  std::optional<std::uint64_t> Open() override {
    if (!openable) return std::nullopt;
    return length.value_or(bytes_.size());
  }
  std::size_t Read(std::uint64_t offset, std::span<std::uint8_t> into) override {
    for (std::size_t i = 0; i < into.size(); ++i) {
      ++reads;
      if (offset + i >= bytes_.size()) {
        ADD_FAILURE() << "read past the file at " << offset + i;
        return i;
      }
      if (auto it = failures.find(offset + i); it != failures.end() && it->second != 0) {
        if (it->second > 0) --it->second;
        return i;
      }
      into[i] = bytes_[offset + i];
    }
    return into.size();
  }
  void Close() override { closed = true; }

  bool openable = true;
  std::optional<std::uint64_t> length;  // what Open reports instead of the real length
  std::map<std::uint64_t, int> failures;
  int reads = 0;
  bool closed = false;

 private:
  std::vector<std::uint8_t> bytes_;
};

std::vector<std::uint8_t> MakeImage(std::uint32_t date, std::uint8_t p0, std::uint8_t p1,
                                    std::size_t size = 512) {
  std::vector<std::uint8_t> image(size, 0x5A);
  std::copy(kImageVendorTagBytes.begin(), kImageVendorTagBytes.end(), image.begin() + 128);
  std::copy(kImageGuidBytes.begin(), kImageGuidBytes.end(), image.begin() + 132);
  WriteBigEndian(image, 156, 4, date);
  image[160] = p0;
  image[161] = p1;
  return image;
}

IdentificationBlock MakeId(std::uint32_t date, std::uint8_t p0, std::uint8_t p1) {
  IdentificationBlock id{};
  WriteBigEndian(id, kIdFirmwareRevision, 4, date);
  id[50] = p0;
  id[51] = p1;
  return id;
}

MessageBoxRequest Error(const std::string& text) {
  return {"Error", text, MessageIcon::kError};
}
MessageBoxRequest ReadWarning(int offset) {
  return {"Warning:", "Error read from Source file. ByteCount = " + std::to_string(offset),
          MessageIcon::kError};
}

const std::string kProductError = "The firmware is not for this product.\nPlease check it.";

FirmwareLoadResult Load(FakeSource& source, ControllerKind kind, const IdentificationBlock& id) {
  return LoadFirmwareFile("/media/fw/QK5100.bin", source, kind, id);
}

TEST(LoadFirmwareFile, HoldsAMatchingImageAndShowsItsFields) {
  const std::vector<std::uint8_t> bytes = MakeImage(0x16052013, 0x27, 0x70);
  FakeSource source(bytes);
  const FirmwareLoadResult result =
      Load(source, ControllerKind::kRaidBridge, MakeId(0x15110900, 0x27, 0x70));
  EXPECT_TRUE(result.messages.empty());
  ASSERT_TRUE(result.image.Loaded());
  EXPECT_EQ(result.image.size, 512u);
  EXPECT_EQ(result.image.bytes, bytes);
  EXPECT_EQ(result.file_text, "File:/media/fw/QK5100.bin");
  EXPECT_EQ(result.enclosure_date_text, "F:15110900");
  EXPECT_EQ(result.image_date_text, "C:16052013");
  EXPECT_TRUE(source.closed);
}

TEST(LoadFirmwareFile, PortMultiplierSkipsTheProductCheckAndLeavesPanelsTwoAndThree) {
  FakeSource source(MakeImage(kRecent, 0x31, 0x50));
  const FirmwareLoadResult result =
      Load(source, ControllerKind::kPortMultiplier, MakeId(kRecent, 0x27, 0x70));
  EXPECT_TRUE(result.image.Loaded());
  EXPECT_TRUE(result.messages.empty());
  EXPECT_FALSE(result.enclosure_date_text.has_value());
  EXPECT_FALSE(result.image_date_text.has_value());
  EXPECT_TRUE(result.checksum_text.has_value());
}

TEST(LoadFirmwareFile, DateCodesAtOrBelowTheBoundSkipTheComparisonButAreShown) {
  struct Case {
    std::uint32_t enclosure, image;
    const char* f_text;
    const char* c_text;
  };
  for (const Case& c :
       {Case{0x13122500, kRecent, "F:13122500", "C:16052013"},
        Case{kRecent, 0x13122500, "F:16052013", "C:13122500"},
        Case{0x00000A01, kRecent, "F:A01", "C:16052013"}, Case{kRecent, 0, "F:16052013", "C:0"}}) {
    SCOPED_TRACE(c.f_text + std::string(" ") + c.c_text);
    FakeSource source(MakeImage(c.image, 0x31, 0x50));
    const FirmwareLoadResult result =
        Load(source, ControllerKind::kRaidBridge, MakeId(c.enclosure, 0x27, 0x70));
    EXPECT_TRUE(result.image.Loaded());
    EXPECT_TRUE(result.messages.empty());
    EXPECT_EQ(result.enclosure_date_text, c.f_text);
    EXPECT_EQ(result.image_date_text, c.c_text);
  }
}

TEST(LoadFirmwareFile, DateCodesAreComparedUnsigned) {
  // With the top bit set a signed comparison would call these old and skip the check.
  FakeSource source(MakeImage(0x90000001, 0x31, 0x50));
  const FirmwareLoadResult result =
      Load(source, ControllerKind::kRaidBridge, MakeId(0x80000000, 0x27, 0x70));
  EXPECT_FALSE(result.image.Loaded());
  EXPECT_EQ(result.messages, std::vector{Error(kProductError)});
  EXPECT_EQ(result.enclosure_date_text, "F:80000000");
}

TEST(LoadFirmwareFile, ProductCodesMatchExactlyExceptWithinThePairedProducts) {
  struct Case {
    std::uint8_t enclosure_p0, enclosure_p1, image_p0, image_p1;
    bool accepted;
  };
  for (const Case& c : {Case{0x27, 0x70, 0x27, 0x60, true}, Case{0x27, 0x70, 0x27, 0x70, true},
                        Case{0x27, 0x60, 0x27, 0x70, true}, Case{0x27, 0x70, 0x27, 0x80, false},
                        Case{0x27, 0x70, 0x28, 0x70, false}, Case{0x27, 0x60, 0x60, 0x27, false},
                        Case{0x31, 0x50, 0x31, 0x50, true}, Case{0x31, 0x50, 0x31, 0x51, false},
                        Case{0x31, 0x50, 0x32, 0x50, false}, Case{0x27, 0x80, 0x27, 0x70, false},
                        Case{0x27, 0x80, 0x27, 0x80, true}}) {
    SCOPED_TRACE(::testing::Message()
                 << std::hex << int(c.enclosure_p0) << ' ' << int(c.enclosure_p1) << " / "
                 << int(c.image_p0) << ' ' << int(c.image_p1));
    FakeSource source(MakeImage(kRecent, c.image_p0, c.image_p1));
    const FirmwareLoadResult result =
        Load(source, ControllerKind::kRaidBridge, MakeId(kRecent, c.enclosure_p0, c.enclosure_p1));
    EXPECT_EQ(result.image.Loaded(), c.accepted);
    EXPECT_EQ(result.image.bytes.empty(), !c.accepted);
    if (c.accepted) {
      EXPECT_TRUE(result.messages.empty());
    } else {
      EXPECT_EQ(result.messages, std::vector{Error(kProductError)});
    }
  }
}

TEST(LoadFirmwareFile, ChecksTheGuidBeforeTheVendorTag) {
  const std::string guid_error = "Threr are GUID error in the firmware file.\nPlease check it.";
  const std::string tag_error =
      "Threr are METADATA_SINGATURE error in the firmware file.\nPlease check it.";
  struct Case {
    std::vector<std::size_t> spoiled;
    std::string message;
  };
  for (const Case& c : {Case{{132}, guid_error}, Case{{147}, guid_error}, Case{{128}, tag_error},
                        Case{{131}, tag_error}, Case{{129, 140}, guid_error}}) {
    SCOPED_TRACE(c.spoiled.front());
    std::vector<std::uint8_t> bytes = MakeImage(kRecent, 0x27, 0x70);
    for (std::size_t offset : c.spoiled)
      bytes[offset] ^= 0x01;
    FakeSource source(bytes);
    const FirmwareLoadResult result =
        Load(source, ControllerKind::kRaidBridge, MakeId(kRecent, 0x27, 0x70));
    EXPECT_FALSE(result.image.Loaded());
    EXPECT_TRUE(result.image.bytes.empty());
    EXPECT_EQ(result.messages, std::vector{Error(c.message)});
    EXPECT_FALSE(result.enclosure_date_text.has_value());
  }
}

TEST(LoadFirmwareFile, ShowsTheByteSumInUpperCaseEvenForARefusedFile) {
  FakeSource abc({'a', 'b', 'c'});
  const FirmwareLoadResult short_file =
      Load(abc, ControllerKind::kRaidBridge, MakeId(kRecent, 0x27, 0x70));
  EXPECT_EQ(short_file.checksum_text, "Chksum:00000126");
  EXPECT_FALSE(short_file.image.Loaded());
  EXPECT_EQ(short_file.messages,
            std::vector{Error("The firmware file is too short.\nPlease check it.")});

  FakeSource blank(std::vector<std::uint8_t>(4096, 0xFF));
  const FirmwareLoadResult blank_flash =
      Load(blank, ControllerKind::kRaidBridge, MakeId(kRecent, 0x27, 0x70));
  EXPECT_EQ(blank_flash.checksum_text, "Chksum:000FF000");
  EXPECT_FALSE(blank_flash.image.Loaded());
}

TEST(LoadFirmwareFile, RefusesAFileTooShortToHoldTheCheckedFields) {
  for (std::size_t size : {std::size_t{0}, std::size_t{161}}) {
    SCOPED_TRACE(size);
    std::vector<std::uint8_t> bytes = MakeImage(kRecent, 0x27, 0x70, 162);
    bytes.resize(size);
    FakeSource source(bytes);
    const FirmwareLoadResult result =
        Load(source, ControllerKind::kRaidBridge, MakeId(kRecent, 0x27, 0x70));
    EXPECT_FALSE(result.image.Loaded());
    EXPECT_EQ(result.messages,
              std::vector{Error("The firmware file is too short.\nPlease check it.")});
    EXPECT_EQ(source.reads, static_cast<int>(size));
  }
  FakeSource smallest(MakeImage(kRecent, 0x27, 0x70, 162));
  EXPECT_TRUE(
      Load(smallest, ControllerKind::kRaidBridge, MakeId(kRecent, 0x27, 0x70)).image.Loaded());
}

// The upgrade erases the image size rounded down to 8 KiB plus 8 KiB: an image of the whole
// flash would have its erase reach past the last addressable block and wrap to the first.
TEST(LoadFirmwareFile, RefusesAFileWhoseUpgradeWouldPassTheEndOfTheFlashBeforeReadingIt) {
  FakeSource too_large(MakeImage(kRecent, 0x27, 0x70));
  too_large.length = kFlashSize;
  const FirmwareLoadResult refused =
      Load(too_large, ControllerKind::kRaidBridge, MakeId(kRecent, 0x27, 0x70));
  EXPECT_FALSE(refused.image.Loaded());
  EXPECT_EQ(refused.messages,
            std::vector{Error("The firmware file is too large for the flash.\nPlease check it.")});
  EXPECT_EQ(too_large.reads, 0);
  EXPECT_EQ(refused.file_text, "File:/media/fw/QK5100.bin");

  FakeSource largest(MakeImage(kRecent, 0x27, 0x70, kFlashSize - 1));
  const FirmwareLoadResult accepted =
      Load(largest, ControllerKind::kRaidBridge, MakeId(kRecent, 0x27, 0x70));
  EXPECT_TRUE(accepted.messages.empty());
  EXPECT_EQ(accepted.image.size, kFlashSize - 1);
}

TEST(LoadFirmwareFile, WithoutAnEnclosureChecksTheFileAlone) {
  FakeSource other_product(MakeImage(kRecent, 0x31, 0x00));
  const FirmwareLoadResult result = LoadFirmwareFile("fw.bin", other_product);
  EXPECT_TRUE(result.image.Loaded());
  EXPECT_FALSE(result.enclosure_date_text.has_value());

  std::vector<std::uint8_t> bytes = MakeImage(kRecent, 0x27, 0x70);
  bytes[132] ^= 1;
  FakeSource bad_guid(bytes);
  EXPECT_FALSE(LoadFirmwareFile("fw.bin", bad_guid).image.Loaded());
}

TEST(LoadFirmwareFile, ReadsAFailingByteAgainAWarningEachTime) {
  const std::vector<std::uint8_t> bytes = MakeImage(kRecent, 0x27, 0x70);
  FakeSource source(bytes);
  source.failures[300] = 2;
  const FirmwareLoadResult result =
      Load(source, ControllerKind::kRaidBridge, MakeId(kRecent, 0x27, 0x70));
  EXPECT_EQ(result.messages, (std::vector{ReadWarning(300), ReadWarning(300)}));
  ASSERT_TRUE(result.image.Loaded());
  EXPECT_EQ(result.image.bytes, bytes);
}

// The file is read in blocks: a failure names the byte that failed, wherever it lies in its
// block, and the retry goes on from there without losing or summing a byte twice.
TEST(LoadFirmwareFile, ReadsAFileOfManyBlocksAgainFromTheFailingByte) {
  std::vector<std::uint8_t> bytes = MakeImage(kRecent, 0x27, 0x70, 3 * kFirmwareReadBlock + 5);
  for (std::size_t i = kMinimumImageSize; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 7);
  FakeSource source(bytes);
  source.failures[kFirmwareReadBlock - 1] = 1;
  source.failures[kFirmwareReadBlock + 100] = 2;
  const FirmwareLoadResult result =
      Load(source, ControllerKind::kRaidBridge, MakeId(kRecent, 0x27, 0x70));
  const int first = static_cast<int>(kFirmwareReadBlock - 1);
  const int second = static_cast<int>(kFirmwareReadBlock + 100);
  EXPECT_EQ(result.messages,
            (std::vector{ReadWarning(first), ReadWarning(second), ReadWarning(second)}));
  ASSERT_TRUE(result.image.Loaded());
  EXPECT_EQ(result.image.bytes, bytes);
  std::uint32_t sum = 0;
  for (std::uint8_t byte : bytes)
    sum += byte;
  EXPECT_EQ(result.checksum_text, "Chksum:" + HexUpper(sum, 8));
}

TEST(LoadFirmwareFile, GivesUpOnAByteThatNeverReads) {
  FakeSource source(MakeImage(kRecent, 0x27, 0x70));
  source.failures[7] = -1;
  const FirmwareLoadResult result =
      Load(source, ControllerKind::kRaidBridge, MakeId(kRecent, 0x27, 0x70));
  EXPECT_FALSE(result.image.Loaded());
  EXPECT_TRUE(result.image.bytes.empty());
  EXPECT_EQ(result.messages, (std::vector{ReadWarning(7), ReadWarning(7), ReadWarning(7),
                                          Error("Fail to read firmware file")}));
  EXPECT_FALSE(result.checksum_text.has_value());
  EXPECT_EQ(source.reads, 7 + 3);
  EXPECT_TRUE(source.closed);
}

TEST(LoadFirmwareFile, ReadsARealFileAndReportsOneThatCannotBeOpened) {
  const testing::TempFolder folder("raidgui-fw-test-");
  const std::vector<std::uint8_t> bytes = MakeImage(kRecent, 0x27, 0x60, 1000);
  {
    std::ofstream out(folder / "fw.bin", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  FileByteSource file(folder / "fw.bin");
  const FirmwareLoadResult loaded = LoadFirmwareFile(
      (folder / "fw.bin").string(), file, ControllerKind::kRaidBridge, MakeId(kRecent, 0x27, 0x70));
  EXPECT_TRUE(loaded.messages.empty());
  EXPECT_EQ(loaded.image.bytes, bytes);

  FileByteSource missing(folder / "missing.bin");
  const FirmwareLoadResult failed =
      LoadFirmwareFile((folder / "missing.bin").string(), missing, ControllerKind::kRaidBridge,
                       MakeId(kRecent, 0x27, 0x70));
  EXPECT_FALSE(failed.image.Loaded());
  EXPECT_EQ(failed.messages, std::vector{Error("Fail to open firmware file")});
  EXPECT_EQ(failed.file_text, "File:" + (folder / "missing.bin").string());
  EXPECT_FALSE(failed.checksum_text.has_value());

  // A folder is no firmware file, and opening it must not be tried.
  FileByteSource not_a_file(folder);
  EXPECT_EQ(LoadFirmwareFile(folder.path().string(), not_a_file, ControllerKind::kRaidBridge,
                             MakeId(kRecent, 0x27, 0x70))
                .messages,
            std::vector{Error("Fail to open firmware file")});
}

}  // namespace
}  // namespace raid
