// SPDX-License-Identifier: GPL-2.0-or-later
// The template files of the alert kinds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "notify/mail_templates.h"
#include "support/temp_folder.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

TEST(MailTemplatesTest, FileNamesAreTheOnesEarlierVersionsWrote) {
  const std::pair<AlertKind, std::string> kinds[] = {{AlertKind::kHardDisksFail, "Hard Disks Fail"},
                                                     {AlertKind::kDeviceRemoved, "Device Removed"},
                                                     {AlertKind::kOverHeat, "Over Heat"},
                                                     {AlertKind::kFanFail, "Fan Fail"}};
  for (const auto& [kind, name] : kinds) {
    EXPECT_EQ(TemplateFileName(kind, TemplatePart::kSubject), "EmailSubject " + name + ".txt");
    EXPECT_EQ(TemplateFileName(kind, TemplatePart::kContents), "EmailContens " + name + ".txt");
  }
  // FilePath ends in a separator, but one without still names a folder.
  EXPECT_EQ(TemplateFilePath("folder", AlertKind::kFanFail, TemplatePart::kSubject),
            fs::path("folder") / "EmailSubject Fan Fail.txt");
}

TEST(MailTemplatesTest, LinesAreWrittenWithCrLfAndReadBackFromEitherEnding) {
  const testing::TempFolder folder("raidgui-templates-");
  const fs::path file = folder / "EmailContens Over Heat.txt";
  std::vector<std::string> lines = {"stale"};
  std::string error;
  ASSERT_TRUE(ReadTemplateFile(file, lines, error));  // missing: no lines, no complaint
  EXPECT_TRUE(lines.empty());

  ASSERT_TRUE(WriteTemplateFile(file, {"first", "", "caf\xC3\xA9 \r"}, error)) << error;
  std::ostringstream bytes;
  bytes << std::ifstream(file, std::ios::binary).rdbuf();
  EXPECT_EQ(bytes.str(), "first\r\n\r\ncaf\xC3\xA9 \r\r\n");
  ASSERT_TRUE(ReadTemplateFile(file, lines, error)) << error;
  EXPECT_EQ(lines, (std::vector<std::string>{"first", "", "caf\xC3\xA9 \r"}));

  EXPECT_EQ(SplitTemplateLines("unix\nwindows\r\nlast"),
            (std::vector<std::string>{"unix", "windows", "last"}));
  ASSERT_TRUE(DeleteTemplateFile(file, error));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(DeleteTemplateFile(file, error));  // already gone

  // What is stored must read back: a file whose LF lines pass the size limit can grow past it
  // as CR LF. Exactly the limit is stored; one byte more is refused and nothing is written.
  std::vector<std::string> longest(kTemplateFileMaxBytes / 1024, std::string(1022, 'x'));
  ASSERT_TRUE(WriteTemplateFile(file, longest, error)) << error;
  EXPECT_EQ(fs::file_size(file), kTemplateFileMaxBytes);
  ASSERT_TRUE(ReadTemplateFile(file, lines, error)) << error;
  EXPECT_EQ(lines, longest);
  fs::remove(file);
  longest.back() += 'x';
  EXPECT_FALSE(WriteTemplateFile(file, longest, error));
  EXPECT_NE(error.find("1048577 bytes"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(file));
}

}  // namespace
}  // namespace raid
