// SPDX-License-Identifier: GPL-2.0-or-later
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/event_hook.h"
#include "cli/platform.h"

extern char** environ;

namespace raid::cli {
namespace {

// How often an unfinished hook is looked at: the resolution of its limit.
constexpr std::chrono::milliseconds kLookInterval{10};

// raidctl's environment without the variables `added` sets, then those.
std::vector<std::string> HookEnvironmentEntries(const HookEnvironment& added) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    const bool replaced = std::any_of(added.begin(), added.end(),
                                      [&](const auto& variable) { return variable.first == name; });
    if (!replaced) entries.push_back(text);
  }
  for (const auto& [name, value] : added)
    entries.push_back(name + "=" + value);
  return entries;
}

// Spawn settings owned for one run.
class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // 0 or an errno value. `output` is where the program's output goes, stderr when -1.
  int Prepare(int output) {
    // Nothing to read; what it prints goes with our own messages, never into our output (which
    // may be JSON); no other descriptor of ours reaches it.
    int error = posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (error == 0 && output >= 0)
      error = posix_spawn_file_actions_adddup2(&actions_, output, STDERR_FILENO);
    if (error == 0)
      error = posix_spawn_file_actions_adddup2(&actions_, STDERR_FILENO, STDOUT_FILENO);
    if (error == 0) error = posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
    // A process group of its own, so that whatever it starts is killed with it at the limit, and
    // a Ctrl-C meant for raidctl leaves a running hook to finish.
    if (error == 0) error = posix_spawnattr_setpgroup(&attributes_, 0);
    // Signals as a freshly started program has them, not as this worker thread has them.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigfillset(&defaults);
    if (error == 0) error = posix_spawnattr_setsigmask(&attributes_, &none);
    if (error == 0) error = posix_spawnattr_setsigdefault(&attributes_, &defaults);
    if (error == 0) {
      error = posix_spawnattr_setflags(
          &attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    return error;
  }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

// Under the journal the program's output comes through a pipe and each of its lines goes on to
// stderr as information, so that a hook cannot give itself a priority. Elsewhere it writes to
// our stderr itself.
class OutputRelay {
 public:
  OutputRelay() {
    int ends[2];
    if (!StderrLinesArePrefixed() || ::pipe2(ends, O_CLOEXEC) != 0) return;
    read_end_ = ends[0];
    write_end_ = ends[1];
    // A program's child may keep the pipe open after it ended: the last read must not wait.
    ::fcntl(read_end_, F_SETFL, ::fcntl(read_end_, F_GETFL) | O_NONBLOCK);
  }
  ~OutputRelay() {
    CloseWriteEnd();
    if (read_end_ >= 0) ::close(read_end_);
  }
  OutputRelay(const OutputRelay&) = delete;
  OutputRelay& operator=(const OutputRelay&) = delete;

  // For the program, -1 when there is no pipe.
  int write_end() const { return write_end_; }
  void CloseWriteEnd() {
    if (write_end_ >= 0) ::close(write_end_);
    write_end_ = -1;
  }

  // Waits up to `wait` for output and passes on what came.
  void Pump(std::chrono::milliseconds wait) {
    if (read_end_ < 0) {
      std::this_thread::sleep_for(wait);
      return;
    }
    pollfd look{read_end_, POLLIN, 0};
    if (::poll(&look, 1, static_cast<int>(wait.count())) > 0) ReadAvailable();
  }
  // What is left once the program ended; a last line without a line feed too.
  void Drain() {
    if (read_end_ < 0) return;
    ReadAvailable();
    joiner_.Finish(Relay);
    ::close(read_end_);
    read_end_ = -1;
  }

 private:
  static void Relay(std::string_view line) { WriteStderrLine(LinePriority::kInformation, line); }

  void ReadAvailable() {
    char buffer[4096];
    for (;;) {
      const ssize_t got = ::read(read_end_, buffer, sizeof buffer);
      if (got > 0) {
        joiner_.Add(std::string_view(buffer, static_cast<std::size_t>(got)), Relay);
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      if (got == 0) {
        // All writers are gone: nothing more will come, and poll would no longer wait.
        joiner_.Finish(Relay);
        ::close(read_end_);
        read_end_ = -1;
      }
      return;
    }
  }

  int read_end_ = -1;
  int write_end_ = -1;
  LineJoiner joiner_;
};

HookOutcome Ended(int status) {
  HookOutcome outcome;
  if (WIFSIGNALED(status)) {
    outcome.kind = HookOutcome::Kind::kSignalled;
    outcome.code = static_cast<unsigned long>(WTERMSIG(status));
    const char* name = sigdescr_np(WTERMSIG(status));
    outcome.why = name != nullptr ? name : "unknown signal";
  } else {
    outcome.code = static_cast<unsigned long>(WEXITSTATUS(status));
  }
  return outcome;
}

// Whether `path` is a regular file we may run; `why` says what is wrong when it is not.
bool IsRunnable(const std::string& path, std::string& why) {
  struct stat facts {};
  if (::stat(path.c_str(), &facts) != 0) {
    why = std::generic_category().message(errno);
    return false;
  }
  if (!S_ISREG(facts.st_mode)) {
    why = "not a regular file";
    return false;
  }
  if (::access(path.c_str(), X_OK) != 0) {
    why = "not executable: " + std::generic_category().message(errno);
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> FindHookProgram(const std::string& program, std::string& error) {
  std::string why;
  if (program.find('/') != std::string::npos) {
    if (IsRunnable(program, why)) return program;
    error = program + ": " + why;
    return std::nullopt;
  }
  const char* path = std::getenv("PATH");
  // A shell's own default when PATH is not set at all.
  const std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(folders.find(':', start), folders.size());
    const std::string folder = folders.substr(start, end - start);
    const std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
    if (IsRunnable(candidate, why)) return candidate;
    if (end == folders.size()) break;
    start = end + 1;
  }
  error = program + ": no executable program of that name on PATH";
  return std::nullopt;
}

HookOutcome RunHookProgram(const std::string& program, const HookEnvironment& added,
                           std::chrono::milliseconds limit, const std::atomic<bool>& abandon) {
  HookOutcome outcome;
  SpawnSetup setup;
  std::vector<std::string> entries = HookEnvironmentEntries(added);
  std::vector<char*> envp;
  for (std::string& entry : entries)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string argv0 = program;
  char* argv[] = {argv0.data(), nullptr};

  pid_t pid = 0;
  OutputRelay relay;
  int error = setup.Prepare(relay.write_end());
  if (error == 0) {
    error =
        posix_spawn(&pid, program.c_str(), setup.actions(), setup.attributes(), argv, envp.data());
  }
  relay.CloseWriteEnd();
  if (error != 0) {
    outcome.kind = HookOutcome::Kind::kNotStarted;
    outcome.why = std::generic_category().message(error);
    return outcome;
  }

  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      relay.Drain();
      return Ended(status);
    }
    if (done < 0 && errno != EINTR) {
      relay.Drain();
      outcome.kind = HookOutcome::Kind::kLost;
      outcome.why = std::generic_category().message(errno);
      return outcome;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline || abandon.load()) break;
    relay.Pump(std::chrono::ceil<std::chrono::milliseconds>(
        std::min<std::chrono::steady_clock::duration>(kLookInterval, deadline - now)));
  }
  // Its group goes with it: a shell script's own children too.
  kill(-pid, SIGKILL);
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  relay.Drain();
  outcome.kind = abandon.load() ? HookOutcome::Kind::kAbandoned : HookOutcome::Kind::kTimedOut;
  return outcome;
}

}  // namespace raid::cli
