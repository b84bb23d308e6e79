// SPDX-License-Identifier: GPL-2.0-or-later
// A program a test starts in the background as a terminal or a service manager would: its own
// arguments, standard input from the null device, output and errors in files, the test's
// environment plus some variables; then signalled and waited for with a time limit.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace raid::testing {

class SpawnedProcess {
 public:
  SpawnedProcess(std::vector<std::string> arguments, const std::filesystem::path& out,
                 const std::filesystem::path& err,
                 std::vector<std::string> added_environment = {}) {
    std::vector<char*> argv;
    for (std::string& argument : arguments)
      argv.push_back(argument.data());
    argv.push_back(nullptr);
    for (char** entry = environ; *entry != nullptr; ++entry)
      added_environment.emplace_back(*entry);
    std::vector<char*> envp;
    for (std::string& entry : added_environment)
      envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~SpawnedProcess() {
    if (pid_ == 0 || status_) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  SpawnedProcess(const SpawnedProcess&) = delete;
  SpawnedProcess& operator=(const SpawnedProcess&) = delete;

  bool started() const { return pid_ != 0; }
  bool Signal(int signal_number) const { return pid_ != 0 && kill(pid_, signal_number) == 0; }

  // Its exit status once it has ended within `limit` (128 + the signal when a signal ended it),
  // nothing while it still runs.
  std::optional<int> Wait(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (pid_ != 0 && !status_) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      } else if (std::chrono::steady_clock::now() >= deadline) {
        break;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    return status_;
  }

 private:
  pid_t pid_ = 0;
  std::optional<int> status_;
};

}  // namespace raid::testing
