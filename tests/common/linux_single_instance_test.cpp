// SPDX-License-Identifier: GPL-2.0-or-later
// The one-window lock without a runtime folder: a folder of the user's own under the temporary
// folder, and nothing someone else planted there counts as another window.
#include "common/single_instance.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/other_user.h"
#include "support/temp_folder.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) saved_runtime_ = runtime;
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", temporary_.path().c_str(), 1);
  }
  void TearDown() override {
    if (!saved_runtime_.empty()) ::setenv("XDG_RUNTIME_DIR", saved_runtime_.c_str(), 1);
    ::unsetenv("TMPDIR");
  }

  testing::TempFolder temporary_{"raidgui-lock-"};
  fs::path folder_ = temporary_ / ("raidgui-" + std::to_string(::getuid()));
  std::string saved_runtime_;
};

TEST_F(SingleInstanceTest, TheUsersOwnFolderHoldsTheLock) {
  std::unique_ptr<SingleInstance> first = SingleInstance::Acquire();
  ASSERT_NE(first, nullptr);
  struct stat status {};
  ASSERT_EQ(::stat(folder_.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700U);
  EXPECT_EQ(SingleInstance::Acquire(), nullptr);
  first.reset();
  EXPECT_NE(SingleInstance::Acquire(), nullptr);
}

TEST_F(SingleInstanceTest, WhatSomeoneElseOwnsIsNeverTakenForAnotherWindow) {
  if (!testing::IsRoot()) GTEST_SKIP() << "only root can hand files to another user";
  // Their lock file in our folder, held by them.
  fs::create_directories(folder_);
  fs::permissions(folder_, fs::perms::owner_all);
  const fs::path lock = folder_ / "raidgui.lock";
  const int planted = ::open(lock.c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(planted, 0);
  ASSERT_EQ(::fchown(planted, testing::kOtherUser, testing::kOtherGroup), 0);
  ASSERT_EQ(::flock(planted, LOCK_EX | LOCK_NB), 0);
  EXPECT_NE(SingleInstance::Acquire(), nullptr);
  ::close(planted);

  // Their folder where ours should be.
  fs::remove_all(folder_);
  fs::create_directories(folder_);
  ASSERT_EQ(::chown(folder_.c_str(), testing::kOtherUser, testing::kOtherGroup), 0);
  const std::unique_ptr<SingleInstance> first = SingleInstance::Acquire();
  EXPECT_NE(first, nullptr);
  EXPECT_FALSE(fs::exists(lock));
}

}  // namespace
}  // namespace raid
