// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/watchdog.h"

namespace raid::cli {

WatchdogFeeder::WatchdogFeeder(ServiceNotifier& notifier, const HeartbeatClock& heart,
                               std::chrono::microseconds timeout)
    : notifier_(notifier), heart_(heart) {
  if (timeout.count() > 0) thread_ = std::thread([this, timeout] { Run(timeout / 3); });
}

void WatchdogFeeder::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void WatchdogFeeder::Run(std::chrono::microseconds interval) {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (std::chrono::steady_clock::now() - heart_.LastBeat() < kLongestSilence) notifier_.Alive();
    wake_.wait_for(lock, interval, [this] { return stopping_; });
  }
}

}  // namespace raid::cli
