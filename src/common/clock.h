// SPDX-License-Identifier: GPL-2.0-or-later
// Every wait and every time read of the logic goes through a Clock, so that tests and the
// simulated demo can run minutes of protocol time in milliseconds while staying exact.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

namespace raid {

class Clock {
 public:
  virtual ~Clock() = default;

  // Monotonic milliseconds since an arbitrary start.
  virtual std::uint64_t NowMs() = 0;
  virtual void SleepMs(std::uint32_t ms) = 0;
  // For waits shorter than a millisecond (a simulated bus's latency).
  virtual void SleepUs(std::uint32_t us) { SleepMs((us + 999) / 1000); }
  // Lets the window handle pending events; long exchanges call it between block reads.
  virtual void ProcessMessages() {}
  // Wall-clock time for file names and time stamps.
  virtual std::chrono::system_clock::time_point WallNow() = 0;
};

// Real time. The window's clock derives from it and pumps Qt in ProcessMessages.
class SystemClock : public Clock {
 public:
  std::uint64_t NowMs() override;
  void SleepMs(std::uint32_t ms) override;
  void SleepUs(std::uint32_t us) override;
  std::chrono::system_clock::time_point WallNow() override;
};

// Real time running `speed` times faster: a demo story or a window test takes a fraction of its
// minutes, with every timer, wait and time-out in proportion. Safe to share between threads.
// The wall clock starts at `wall_start`, or now.
class ScaledClock : public Clock {
 public:
  explicit ScaledClock(double speed,
                       std::optional<std::chrono::system_clock::time_point> wall_start = {});

  std::uint64_t NowMs() override;
  void SleepMs(std::uint32_t ms) override;
  void SleepUs(std::uint32_t us) override;
  std::chrono::system_clock::time_point WallNow() override;
  double speed() const { return speed_; }

 private:
  double speed_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::system_clock::time_point wall_start_;
};

// Time that only moves when somebody sleeps or advances it, exact to the microsecond so that a
// simulated bus's sub-millisecond latency adds up as it would. Safe to share between threads.
class VirtualClock : public Clock {
 public:
  explicit VirtualClock(
      std::chrono::system_clock::time_point wall_start = std::chrono::system_clock::time_point{});

  std::uint64_t NowMs() override { return now_us_.load() / 1000; }
  std::uint64_t NowUs() const { return now_us_.load(); }
  void SleepMs(std::uint32_t ms) override { Advance(ms); }
  void SleepUs(std::uint32_t us) override { now_us_.fetch_add(us); }
  void ProcessMessages() override;
  std::chrono::system_clock::time_point WallNow() override;

  void Advance(std::uint64_t ms) { now_us_.fetch_add(ms * 1000); }
  // Called from ProcessMessages; tests use it to run a "click" in the middle of an exchange.
  void SetMessageHook(std::function<void()> hook);

 private:
  std::atomic<std::uint64_t> now_us_{0};
  std::chrono::system_clock::time_point wall_start_;
  std::mutex hook_mutex_;
  std::function<void()> hook_;
};

}  // namespace raid
