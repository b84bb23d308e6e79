// SPDX-License-Identifier: GPL-2.0-or-later
#include "monitor/worker_threads.h"

#include <algorithm>

#include "common/exception_box.h"

namespace raid {

WorkerThreads::WorkerThreads(PollingSchedule& schedule, double speed)
    : schedule_(schedule), speed_(speed > 0 ? speed : 1.0) {}

WorkerThreads::~WorkerThreads() {
  RequestStop();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

void WorkerThreads::SetRecountWatcher(DeviceChangeWatcher* watcher, std::function<void()> changed) {
  recount_ = watcher;
  recount_changed_ = std::move(changed);
}

void WorkerThreads::Start() {
  {
    std::lock_guard lock(mutex_);
    stop_ = false;
    running_ = 3;
  }
  threads_.emplace_back([this] {  // DriveDetectThread
    Loop(
        [this] {
          if (recount_ != nullptr && recount_->TakeChanges() && recount_changed_) {
            recount_changed_();
          }
          schedule_.DriveDetectLook();
        },
        kDetectThreadSleepMs);
  });
  threads_.emplace_back([this] {  // TRaidThread
    Loop([this] { schedule_.RaidLook(); }, kRaidThreadSleepMs);
  });
  threads_.emplace_back([this] {  // TEmailThread
    Loop(
        [this] {
          if (mail_look_) mail_look_();
        },
        kMailThreadSleepMs);
  });
}

void WorkerThreads::Loop(const std::function<void()>& look, std::uint32_t sleep_ms) {
  const auto pause = std::chrono::duration<double, std::milli>(sleep_ms / speed_);
  std::unique_lock lock(mutex_);
  while (!stop_) {
    lock.unlock();
    if (const std::optional<MessageBoxRequest> thrown = RunCatching(look); thrown && report_) {
      report_(*thrown);
    }
    lock.lock();
    wake_.wait_for(lock, pause, [this] { return stop_; });
  }
  --running_;
  wake_.notify_all();
}

void WorkerThreads::RequestStop() {
  std::lock_guard lock(mutex_);
  stop_ = true;
  wake_.notify_all();
}

bool WorkerThreads::StopWithin(std::chrono::milliseconds mail_grace,
                               std::chrono::milliseconds limit,
                               const std::function<void()>& cancel_mail,
                               const std::function<void()>& meanwhile) {
  constexpr std::chrono::milliseconds kStep{5};
  RequestStop();
  const auto stopped_within = [&](std::chrono::milliseconds span) {
    const auto deadline = std::chrono::steady_clock::now() + span;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      if (WaitStopped(std::min(left, kStep))) return true;
      if (meanwhile) meanwhile();
    }
  };
  if (stopped_within(mail_grace)) return true;
  if (cancel_mail) cancel_mail();
  return stopped_within(limit - mail_grace);
}

bool WorkerThreads::WaitStopped(std::chrono::milliseconds limit) {
  {
    std::unique_lock lock(mutex_);
    if (!wake_.wait_for(lock, limit, [this] { return running_ == 0; })) return false;
  }
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
  threads_.clear();
  return true;
}

}  // namespace raid
