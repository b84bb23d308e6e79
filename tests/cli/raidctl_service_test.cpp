// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl monitor as systemd runs it: the notify socket, the watchdog, SIGHUP, and the unit.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/build_paths.h"
#include "support/shell_command.h"
#include "support/temp_folder.h"
#include "support/text_lines.h"

namespace {

namespace fs = std::filesystem;
using raid::testing::SplitLines;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string ReadText(const fs::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// A service manager's end of the notify socket: a datagram socket bound in the test's folder.
class NotifySocket {
 public:
  explicit NotifySocket(const fs::path& path) : path_(path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~NotifySocket() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  const fs::path& path() const { return path_; }

  // Collects the messages until `pid` has ended and none is left; its wait status. `arrivals`,
  // when given, gets each message's arrival in milliseconds from the call.
  int CollectUntilExit(pid_t pid, std::vector<std::string>& messages,
                       std::vector<long>* arrivals = nullptr) const {
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    bool ended = false;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < give_up) {
      pollfd waiting{fd_, POLLIN, 0};
      if (poll(&waiting, 1, 50) > 0) {
        char buffer[4096];
        const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) messages.emplace_back(buffer, static_cast<std::size_t>(n));
        if (n > 0 && arrivals != nullptr) {
          arrivals->push_back(
              static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - start)
                                    .count()));
        }
        continue;
      }
      if (ended) return status;
      ended = waitpid(pid, &status, WNOHANG) == pid;  // then one more look for late messages
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }

 private:
  fs::path path_;
  int fd_ = -1;
};

class RaidctlServiceTest : public ::testing::Test {
 protected:
  std::string LogEnv() const { return "RAIDGUI_LOG_DIR=" + (folder_ / "logs").string(); }
  std::string ConfigEnv() const { return "RAIDGUI_CONFIG_DIR=" + (folder_ / "config").string(); }
  fs::path ErrFile() const { return folder_ / "stderr.txt"; }

  // raidctl with `arguments` and only `environment`, stdout discarded, stderr to ErrFile().
  pid_t Spawn(std::vector<std::string> arguments, std::vector<std::string> environment) const {
    arguments.insert(arguments.begin(), RAIDCTL_PATH);
    std::vector<char*> argv;
    for (std::string& arg : arguments)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> env;
    for (std::string& variable : environment)
      env.push_back(variable.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, ErrFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = 0;
    if (posix_spawn(&pid, RAIDCTL_PATH, &actions, nullptr, argv.data(), env.data()) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  // Waits up to 20 s until stderr holds `count` lines containing `text`.
  bool AwaitStderr(const std::string& text, int count = 1) const {
    for (int i = 0; i < 400; ++i) {
      const std::vector<std::string> lines = SplitLines(ReadText(ErrFile()));
      if (std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
          }) >= count) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  raid::testing::TempFolder folder_{"raidctl-service-"};
};

int Count(const std::vector<std::string>& messages, const std::string& message) {
  return static_cast<int>(std::count(messages.begin(), messages.end(), message));
}

// Ready only once the first discovery is installed, so its status names what was found; the
// watchdog petted only when the manager keeps one; the stop said last.
TEST_F(RaidctlServiceTest, NotifySocketHearsReadyAfterDiscoveryWatchdogAndStopping) {
  const NotifySocket socket(folder_ / "notify");
  ASSERT_TRUE(socket.ok());
  const std::string notify_env = "NOTIFY_SOCKET=" + socket.path().string();

  const pid_t watched = Spawn(
      {"monitor", "--for", "60", "--simulate", std::string(RAIDGUI_SCENARIO_DIR) + "/demo.json"},
      {LogEnv(), notify_env, "WATCHDOG_USEC=120000000"});
  ASSERT_GT(watched, 0);
  std::vector<std::string> messages;
  const int status = socket.CollectUntilExit(watched, messages);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadText(ErrFile());
  EXPECT_EQ(Count(messages, "READY=1\nSTATUS=Watching 2 enclosure(s)"), 1);
  EXPECT_GE(Count(messages, "WATCHDOG=1"), 1);  // at once, then every 40 s of real time
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), "STOPPING=1");
  EXPECT_EQ(Count(messages, "STOPPING=1"), 1);
  const std::vector<std::string> err = SplitLines(ReadText(ErrFile()));
  ASSERT_FALSE(err.empty());
  EXPECT_EQ(err.front(), "raidctl: monitor started");
  EXPECT_EQ(err.back(), "raidctl: monitor stopped");

  // An enclosure plugged in later: ready with none, then the status follows the new list. No
  // watchdog was asked for, so no pet.
  const fs::path late = folder_ / "late.json";
  std::ofstream(late) << R"({ "drives": [ { "number": 0, "type": "disk" } ],
    "timeline": [ { "at_s": 20, "drive": 2, "action": "plug",
                    "device": { "type": "enclosure" } } ] })";
  const pid_t unwatched =
      Spawn({"monitor", "--for", "60", "--simulate", late.string()}, {LogEnv(), notify_env});
  ASSERT_GT(unwatched, 0);
  messages.clear();
  const int late_status = socket.CollectUntilExit(unwatched, messages);
  ASSERT_TRUE(WIFEXITED(late_status) && WEXITSTATUS(late_status) == 0) << ReadText(ErrFile());
  EXPECT_THAT(messages, ElementsAre("READY=1\nSTATUS=No enclosure found; waiting for one",
                                    "STATUS=Watching 1 enclosure(s)", "STOPPING=1"));

  // Drives it has no right to open: never "no enclosure found". Said again when one leaves.
  const fs::path locked = folder_ / "locked.json";
  std::ofstream(locked) << R"({ "drives": [ { "number": 0, "type": "disk", "openable": false },
    { "number": 1, "type": "enclosure", "openable": false },
    { "number": 3, "type": "disk", "openable": false } ],
    "timeline": [ { "at_s": 20, "drive": 3, "action": "unplug" } ] })";
  const pid_t denied =
      Spawn({"monitor", "--for", "40", "--simulate", locked.string()}, {LogEnv(), notify_env});
  ASSERT_GT(denied, 0);
  messages.clear();
  const int denied_status = socket.CollectUntilExit(denied, messages);
  ASSERT_TRUE(WIFEXITED(denied_status) && WEXITSTATUS(denied_status) == 0);
  EXPECT_THAT(
      messages,
      ElementsAre("READY=1\nSTATUS=Watching 0 enclosure(s); 3 drives could not be opened",
                  "STATUS=Watching 0 enclosure(s); 2 drives could not be opened", "STOPPING=1"));
  EXPECT_EQ(Count(SplitLines(ReadText(ErrFile())),
                  "raidctl: physical drive 0 was skipped: permission denied"),
            2);
}

// On a slow bridge the first SMART pass takes seconds: the service is ready before it, once the
// enclosure is watched, and the watchdog (one second here) is petted all through it.
TEST_F(RaidctlServiceTest, ReadyBeforeTheSmartPassAndTheWatchdogFedThroughIt) {
  const NotifySocket socket(folder_ / "notify");
  ASSERT_TRUE(socket.ok());
  const fs::path slow = folder_ / "slow.json";
  std::ofstream(slow) << R"({ "drives": [ { "number": 1, "type": "enclosure",
    "faults": { "read_latency_us": 4000 } } ] })";
  const pid_t pid =
      Spawn({"monitor", "--realtime", "--for", "12", "--simulate", slow.string()},
            {LogEnv(), "NOTIFY_SOCKET=" + socket.path().string(), "WATCHDOG_USEC=1000000"});
  ASSERT_GT(pid, 0);
  std::vector<std::string> messages;
  std::vector<long> arrivals;
  const int status = socket.CollectUntilExit(pid, messages, &arrivals);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadText(ErrFile());
  const auto ready =
      std::find(messages.begin(), messages.end(), "READY=1\nSTATUS=Watching 1 enclosure(s)");
  ASSERT_NE(ready, messages.end());
  EXPECT_LT(arrivals[static_cast<std::size_t>(ready - messages.begin())], 4000);
  long last_pet = 0;
  long longest_gap = 0;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    if (messages[i] != "WATCHDOG=1") continue;
    longest_gap = std::max(longest_gap, arrivals[i] - last_pet);
    last_pet = arrivals[i];
  }
  EXPECT_GE(Count(messages, "WATCHDOG=1"), 20);
  EXPECT_LT(longest_gap, 1000);
}

// SIGHUP reads the mail settings again, also when they were removed meanwhile, and the monitor
// runs on to the end of --for.
TEST_F(RaidctlServiceTest, SighupReloadsTheMailSettingsWithoutStoppingTheMonitor) {
  const pid_t pid = Spawn({"monitor", "--realtime", "--for", "8", "--simulate",
                           std::string(RAIDGUI_SCENARIO_DIR) + "/demo.json"},
                          {LogEnv(), ConfigEnv()});
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(AwaitStderr("raidctl: alert mails are off: no mail settings in"))
      << ReadText(ErrFile());

  const raid::testing::ShellRun setup = raid::testing::RunShellCommand(
      ConfigEnv() + " " + RAIDCTL_PATH + " mail-setup --smtp 127.0.0.1 --to ops@example.com 2>&1");
  ASSERT_EQ(setup.exit_code, 0) << setup.out;
  kill(pid, SIGHUP);
  EXPECT_TRUE(AwaitStderr("raidctl: alert mails go to 1 recipient(s) through 127.0.0.1"))
      << ReadText(ErrFile());

  fs::remove_all(folder_ / "config");
  kill(pid, SIGHUP);
  EXPECT_TRUE(AwaitStderr("raidctl: alert mails are off: no mail settings in", 2))
      << ReadText(ErrFile());

  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::vector<std::string> err = SplitLines(ReadText(ErrFile()));
  EXPECT_EQ(std::count(err.begin(), err.end(),
                       "raidctl: SIGHUP: reading the mail settings and notify.toml again"),
            2);
  EXPECT_EQ(err.back(), "raidctl: monitor stopped");
}

std::string UnitSetting(const std::string& unit, const std::string& key) {
  std::smatch match;
  const std::regex line("(^|\n)" + key + "=([^\n]*)");
  return std::regex_search(unit, match, line) ? match[2].str() : std::string();
}

TEST_F(RaidctlServiceTest, UnitPassesSystemdAnalyzeAndMayWriteItsLogFolder) {
  const std::string unit =
      ReadText(std::string(RAIDGUI_PACKAGING_DIR) + "/raidctl-monitor.service");
  ASSERT_FALSE(unit.empty());
  // The folder the monitor logs to must be one the read-only system leaves writable.
  std::smatch log_dir;
  ASSERT_TRUE(std::regex_search(unit, log_dir, std::regex("RAIDGUI_LOG_DIR=([^ \n]+)")));
  EXPECT_EQ(log_dir[1].str(), "/var/log/" + UnitSetting(unit, "LogsDirectory"));
  EXPECT_EQ(log_dir[1].str(), UnitSetting(unit, "ReadWritePaths"));

  if (raid::testing::RunShellCommand("command -v systemd-analyze").exit_code != 0) {
    GTEST_SKIP() << "systemd-analyze is not installed";
  }
  // The unit names the installed raidctl; the built one stands in for it.
  const fs::path copy = folder_ / "raidctl-monitor.service";
  std::ofstream(copy) << std::regex_replace(unit, std::regex("ExecStart=/usr/bin/raidctl"),
                                            std::string("ExecStart=") + RAIDCTL_PATH);
  // The manual the unit names is the package's, not installed on this machine.
  const raid::testing::ShellRun verify =
      raid::testing::RunShellCommand("systemd-analyze verify --man=no " + copy.string() + " 2>&1");
  EXPECT_EQ(verify.exit_code, 0);
  EXPECT_EQ(verify.out, "") << "warnings are mistakes in the unit";

  // systemd's own measure of what the service could do if it were taken over: 0 is locked
  // down, 10 unprotected. The disks, the network for mail and the disk group cost a little.
  const raid::testing::ShellRun security = raid::testing::RunShellCommand(
      "systemd-analyze security --offline=yes " + copy.string() + " 2>&1");
  std::smatch exposure;
  ASSERT_TRUE(std::regex_search(security.out, exposure,
                                std::regex("Overall exposure level for [^:]+: ([0-9.]+)")))
      << security.out;
  EXPECT_LT(std::stod(exposure[1].str()), 2.5) << security.out;
}

}  // namespace
