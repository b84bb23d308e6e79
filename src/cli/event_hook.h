// SPDX-License-Identifier: GPL-2.0-or-later
// `raidctl monitor --exec PROGRAM`: the program is run once per event, on a worker of its own so
// that the monitor never waits for it. The running of one program is platform code, one file per
// system (posix/, windows/).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/event_fields.h"
#include "events/monitor_events.h"

namespace raid::cli {

// How one run ended.
struct HookOutcome {
  // kLost: it was started, but how it ended could not be learned. kAbandoned: ended because
  // the monitor stopped.
  enum class Kind { kExited, kSignalled, kTimedOut, kNotStarted, kLost, kAbandoned };
  Kind kind = Kind::kExited;
  unsigned long code = 0;  // kExited: the exit status; kSignalled: the signal
  std::string why;         // the system's reason; kSignalled: the signal's name
};

// Runs `program` itself, never through a shell, with `added` put into raidctl's environment
// (replacing variables of the same names), standard input from the null device and standard
// output and error on raidctl's standard error. Past `limit`, or as soon as `abandon` is set, the
// program is killed with all it started (its process group; its job object on Windows). Returns
// when it has ended.
HookOutcome RunHookProgram(const std::string& program, const HookEnvironment& added,
                           std::chrono::milliseconds limit, const std::atomic<bool>& abandon);

// The program --exec names, made ready to run before monitoring starts: a name without a folder is
// looked up on PATH as a shell would (an empty entry is the current folder), and the program must
// be an executable regular file. Empty, with `error` saying why, when it cannot be run.
std::optional<std::string> FindHookProgram(const std::string& program, std::string& error);

inline constexpr std::size_t kHookQueueCapacity = 100;

// Runs the hook for each posted event in order, one at a time, on its own thread. Every run that
// does not exit with status 0, and every event that is not run, is reported, one line each.
class EventHookRunner {
 public:
  using Launcher = std::function<HookOutcome(const std::string&, const HookEnvironment&,
                                             std::chrono::milliseconds, const std::atomic<bool>&)>;
  using Reporter = std::function<void(const std::string&)>;

  EventHookRunner(std::string program, std::chrono::milliseconds limit, Reporter report,
                  Launcher launch = RunHookProgram, std::size_t capacity = kHookQueueCapacity);
  EventHookRunner(const EventHookRunner&) = delete;
  EventHookRunner& operator=(const EventHookRunner&) = delete;
  ~EventHookRunner();

  // Queues the event; when `capacity` events wait already, it is reported as not run instead.
  void Post(const MonitorEvent& event);
  // The running hook is ended with all it started, and it and the events still waiting are
  // reported as not run to the end. Posting afterwards reports the event as not run.
  void Stop();

 private:
  void Work();
  void Report(const MonitorEvent& event, const std::string& what);

  const std::string program_;
  const std::chrono::milliseconds limit_;
  const Reporter report_;
  const Launcher launch_;
  const std::size_t capacity_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<MonitorEvent> waiting_;
  bool stopping_ = false;
  std::atomic<bool> abandon_{false};
  std::thread worker_;
};

}  // namespace raid::cli
