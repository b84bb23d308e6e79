// SPDX-License-Identifier: GPL-2.0-or-later
// The user's locale reaches the log's time stamps, and never the numbers we parse.
#include "common/user_locale.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "events/log_text.h"
#include "support/temp_folder.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

namespace raid {
namespace {

namespace fs = std::filesystem;

// 2026-12-08 14:05:09 UTC.
constexpr std::chrono::seconds kFixedTime{1796738709};

class UserLocaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v localedef >/dev/null 2>&1") != 0) {
      GTEST_SKIP()
          << "localedef is missing (Debian package locales): no German locale to test with";
    }
    // Built here, so that the test needs neither root nor a generated system locale.
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + (folder_ / "de_DE.UTF-8").string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  // Applies the locale that `environment` names in a child process, so that ours stays "C", and
  // returns the child's time stamp and its reading of "1.5".
  std::string InChild(const std::vector<std::pair<const char*, const char*>>& environment) {
    int pipe_ends[2];
    if (::pipe(pipe_ends) != 0) return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(pipe_ends[0]);
      for (const char* name : {"LC_ALL", "LANG", "LANGUAGE", "LC_CTYPE", "LC_NUMERIC", "LC_TIME",
                               "LC_COLLATE", "LC_MONETARY", "LC_MESSAGES"}) {
        ::unsetenv(name);
      }
      ::setenv("LOCPATH", folder_.path().c_str(), 1);
      ::setenv("TZ", "UTC", 1);
      ::tzset();
      for (const auto& [name, value] : environment)
        ::setenv(name, value, 1);
      ApplyUserLocale();
      const std::string report = TimeStampText(std::chrono::system_clock::time_point(kFixedTime)) +
                                 " | " + std::to_string(std::strtod("1.5", nullptr) == 1.5);
      const bool sent = ::write(pipe_ends[1], report.data(), report.size()) ==
                        static_cast<ssize_t>(report.size());
      ::_exit(sent ? 0 : 1);
    }
    ::close(pipe_ends[1]);
    std::string report;
    char buffer[256];
    for (ssize_t got; (got = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;)
      report.append(buffer, static_cast<std::size_t>(got));
    ::close(pipe_ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed: " + report;
    return report;
  }

  testing::TempFolder folder_{"raidgui-locale-test-"};
};

TEST_F(UserLocaleTest, StampsFollowTheUserLocaleAndNumbersKeepTheirPoint) {
  EXPECT_EQ(InChild({{"LC_ALL", "de_DE.UTF-8"}}), "08.12.2026 14:05:09 | 1");
  // LANG names a locale that is not installed: the call that takes all categories fails, yet the
  // time locale the user named still counts.
  EXPECT_EQ(InChild({{"LANG", "xx_YY.UTF-8"}, {"LC_TIME", "de_DE.UTF-8"}}),
            "08.12.2026 14:05:09 | 1");
  EXPECT_EQ(InChild({{"LC_ALL", "xx_YY.UTF-8"}}), "12/08/26 14:05:09 | 1");
}

}  // namespace
}  // namespace raid
#endif
