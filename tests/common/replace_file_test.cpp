// SPDX-License-Identifier: GPL-2.0-or-later
// ReplaceFileContents on a real file system: the rights and owner a replaced file keeps.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/platform_files.h"
#include "support/other_user.h"
#include "support/temp_folder.h"
#include "support/text_lines.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

class ReplaceFileTest : public ::testing::Test {
 protected:
  static mode_t ModeOf(const fs::path& path) { return testing::FactsOf(path).st_mode & 07777; }
  testing::TempFolder folder_{"raidgui-replace-test-"};
};

TEST_F(ReplaceFileTest, NewFilesGetTheirAccessAndOldOnesKeepModeAndOwner) {
  std::string error;
  const mode_t old_umask = ::umask(027);
  ASSERT_TRUE(ReplaceFileContents(folder_ / "usual", "x", FileAccess::kUsual, error)) << error;
  ASSERT_TRUE(ReplaceFileContents(folder_ / "metrics", "x", FileAccess::kReadableByAll, error));
  ::umask(0);
  ASSERT_TRUE(ReplaceFileContents(folder_ / "template", "x", FileAccess::kNewOwnerOnly, error));
  ASSERT_TRUE(ReplaceFileContents(folder_ / "secret", "x", FileAccess::kOwnerOnly, error));
  ::umask(old_umask);
  EXPECT_EQ(ModeOf(folder_ / "usual"), 0640U);
  EXPECT_EQ(ModeOf(folder_ / "metrics"), 0644U);
  EXPECT_EQ(ModeOf(folder_ / "template"), 0600U);
  EXPECT_EQ(ModeOf(folder_ / "secret"), 0600U);

  // An old file keeps its mode, and only a secret loses the others' rights.
  ASSERT_EQ(::chmod((folder_ / "template").c_str(), 0640), 0);
  ASSERT_EQ(::chmod((folder_ / "secret").c_str(), 0644), 0);
  if (testing::IsRoot()) {
    ASSERT_EQ(::chown((folder_ / "template").c_str(), testing::kOtherUser, testing::kOtherGroup),
              0);
  }
  ASSERT_TRUE(ReplaceFileContents(folder_ / "template", "y", FileAccess::kNewOwnerOnly, error));
  ASSERT_TRUE(ReplaceFileContents(folder_ / "secret", "y", FileAccess::kOwnerOnly, error));
  EXPECT_EQ(testing::ReadLines(folder_ / "template"), std::vector<std::string>{"y"});
  EXPECT_EQ(ModeOf(folder_ / "template"), 0640U);
  EXPECT_EQ(ModeOf(folder_ / "secret"), 0600U);
  if (testing::IsRoot()) {
    EXPECT_EQ(testing::FactsOf(folder_ / "template").st_uid, testing::kOtherUser);
    EXPECT_EQ(testing::FactsOf(folder_ / "template").st_gid, testing::kOtherGroup);
  }
  EXPECT_FALSE(fs::exists(folder_ / "template.new"));
}

// A user who may not give the new file the old one's group must not give its own group the old
// group's rights either.
TEST_F(ReplaceFileTest, GroupThatCannotBeKeptGetsNoRights) {
  if (!testing::IsRoot()) GTEST_SKIP() << "needs root to act as two users";
  ASSERT_EQ(::chown(folder_.path().c_str(), testing::kOtherUser, testing::kOtherGroup), 0);
  const fs::path path = folder_ / "shared.txt";
  std::ofstream(path) << "line\n";
  ASSERT_EQ(::chown(path.c_str(), testing::kOtherUser, 0), 0);
  ASSERT_EQ(::chmod(path.c_str(), 0664), 0);

  ASSERT_TRUE(testing::RunAsOtherUser([&] {
    std::string error;
    return ReplaceFileContents(path, "line\nmore\n", FileAccess::kUsual, error);
  }));
  const struct stat facts = testing::FactsOf(path);
  EXPECT_EQ(facts.st_uid, testing::kOtherUser);
  EXPECT_EQ(facts.st_gid, testing::kOtherGroup);
  EXPECT_EQ(facts.st_mode & 07777, 0604U);
}

}  // namespace
}  // namespace raid
