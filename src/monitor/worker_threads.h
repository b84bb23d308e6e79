// SPDX-License-Identifier: GPL-2.0-or-later
// The polling schedule's three worker threads (the window's DriveDetectThread, TRaidThread and
// TEmailThread). Each loop looks at its flags, does its work on its own thread, and sleeps.
// Closing asks them to stop and waits with a time limit: a thread is never suspended where it
// may hold a lock. A look that throws ends its work item (the schedule leaves no item half done);
// the thread reports the exception and goes on looking.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "common/ui_sink.h"
#include "device/device_watch.h"
#include "monitor/polling_schedule.h"

namespace raid {

inline constexpr std::uint32_t kMailThreadSleepMs = 200;

class WorkerThreads {
 public:
  // `speed` shortens the sleeps as the clock runs faster (the demo and the tests).
  WorkerThreads(PollingSchedule& schedule, double speed);
  ~WorkerThreads();
  WorkerThreads(const WorkerThreads&) = delete;
  WorkerThreads& operator=(const WorkerThreads&) = delete;

  // A watcher without a descriptor (the recount, Windows' message window) is asked by the
  // detection thread, where the recount may open disks; `changed` is called when it saw a change.
  void SetRecountWatcher(DeviceChangeWatcher* watcher, std::function<void()> changed);
  // The e-mail worker's look: true when it found work.
  void SetMailLook(std::function<bool()> look) { mail_look_ = std::move(look); }
  // Where an exception that ended a look is reported, on the worker's thread (the window shows
  // it on its own). Unset: it is dropped, and the worker still goes on.
  void SetFailureReport(std::function<void(const MessageBoxRequest&)> report) {
    report_ = std::move(report);
  }

  void Start();
  void RequestStop();
  // True when all three have ended (and are joined) within `limit`.
  bool WaitStopped(std::chrono::milliseconds limit);
  // Asks them to stop and waits at most `limit`, in short steps with `meanwhile` between them
  // (the window serves its events there). A mail server that does not answer must not hold the
  // stop: after `mail_grace` the mail under way is cut short with `cancel_mail`. True when all
  // three ended in time.
  bool StopWithin(std::chrono::milliseconds mail_grace, std::chrono::milliseconds limit,
                  const std::function<void()>& cancel_mail,
                  const std::function<void()>& meanwhile = {});

 private:
  void Loop(const std::function<void()>& look, std::uint32_t sleep_ms);

  PollingSchedule& schedule_;
  double speed_;
  DeviceChangeWatcher* recount_ = nullptr;
  std::function<void()> recount_changed_;
  std::function<bool()> mail_look_;
  std::function<void(const MessageBoxRequest&)> report_;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  int running_ = 0;
  std::vector<std::thread> threads_;
};

}  // namespace raid
