// SPDX-License-Identifier: GPL-2.0-or-later
// The service manager's watchdog, fed from a thread of its own: a single work item (one
// enclosure's SMART read, a poll that waits for a slow bridge) can take longer than the watchdog
// allows, and the monitor is alive all the while. What tells a working monitor from a stuck one
// is its clock: every exchange with a controller waits on it, and so does the idle loop. The
// feeder pets the watchdog only while the clock was used within the last minute, so a monitor
// stuck in one call for longer is still restarted.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "cli/platform.h"
#include "common/clock.h"

namespace raid::cli {

// A clock that notes, in real time, when it was last used.
class HeartbeatClock : public Clock {
 public:
  explicit HeartbeatClock(Clock& inner) : inner_(inner) { Beat(); }

  std::uint64_t NowMs() override {
    Beat();
    return inner_.NowMs();
  }
  void SleepMs(std::uint32_t ms) override {
    Beat();
    inner_.SleepMs(ms);
    Beat();
  }
  void SleepUs(std::uint32_t us) override {
    Beat();
    inner_.SleepUs(us);
    Beat();
  }
  void ProcessMessages() override { inner_.ProcessMessages(); }
  std::chrono::system_clock::time_point WallNow() override { return inner_.WallNow(); }

  // Steady time of the last use.
  std::chrono::steady_clock::time_point LastBeat() const {
    return std::chrono::steady_clock::time_point(
        std::chrono::steady_clock::duration(last_beat_.load()));
  }

 private:
  void Beat() { last_beat_.store(std::chrono::steady_clock::now().time_since_epoch().count()); }

  Clock& inner_;
  std::atomic<std::chrono::steady_clock::rep> last_beat_{0};
};

inline constexpr std::chrono::seconds kLongestSilence{60};

class WatchdogFeeder {
 public:
  // Pets `notifier` every third of `timeout` while `heart` beat within kLongestSilence. Nothing
  // runs when `timeout` is zero (no watchdog).
  WatchdogFeeder(ServiceNotifier& notifier, const HeartbeatClock& heart,
                 std::chrono::microseconds timeout);
  ~WatchdogFeeder() { Stop(); }
  WatchdogFeeder(const WatchdogFeeder&) = delete;
  WatchdogFeeder& operator=(const WatchdogFeeder&) = delete;

  // Ends the feeding; returns once the thread has ended.
  void Stop();

 private:
  void Run(std::chrono::microseconds interval);

  ServiceNotifier& notifier_;
  const HeartbeatClock& heart_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace raid::cli
