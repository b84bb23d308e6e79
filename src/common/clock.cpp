// SPDX-License-Identifier: GPL-2.0-or-later
#include "common/clock.h"

#include <thread>

namespace raid {
namespace {

// At least `duration`. Windows sleeps in whole milliseconds and returns at once from a shorter
// sleep, so a simulated half-millisecond read would take no time there: what the sleep left is
// waited out, yielding the processor.
void SleepAtLeast(std::chrono::duration<double, std::micro> duration) {
  using namespace std::chrono;
  const steady_clock::time_point until =
      steady_clock::now() + duration_cast<steady_clock::duration>(duration);
  std::this_thread::sleep_for(duration);
  while (steady_clock::now() < until)
    std::this_thread::yield();
}

}  // namespace

std::uint64_t SystemClock::NowMs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemClock::SleepMs(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SystemClock::SleepUs(std::uint32_t us) {
  SleepAtLeast(std::chrono::microseconds(us));
}

std::chrono::system_clock::time_point SystemClock::WallNow() {
  return std::chrono::system_clock::now();
}

ScaledClock::ScaledClock(double speed,
                         std::optional<std::chrono::system_clock::time_point> wall_start)
    : speed_(speed > 0 ? speed : 1.0),
      start_(std::chrono::steady_clock::now()),
      wall_start_(wall_start.value_or(std::chrono::system_clock::now())) {}

std::uint64_t ScaledClock::NowMs() {
  const std::chrono::duration<double, std::milli> elapsed =
      std::chrono::steady_clock::now() - start_;
  return static_cast<std::uint64_t>(elapsed.count() * speed_);
}

void ScaledClock::SleepMs(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms / speed_));
}

void ScaledClock::SleepUs(std::uint32_t us) {
  SleepAtLeast(std::chrono::duration<double, std::micro>(us / speed_));
}

std::chrono::system_clock::time_point ScaledClock::WallNow() {
  return wall_start_ + std::chrono::milliseconds(NowMs());
}

VirtualClock::VirtualClock(std::chrono::system_clock::time_point wall_start)
    : wall_start_(wall_start) {}

void VirtualClock::ProcessMessages() {
  std::function<void()> hook;
  {
    std::lock_guard lock(hook_mutex_);
    hook = hook_;
  }
  if (hook) hook();
}

std::chrono::system_clock::time_point VirtualClock::WallNow() {
  return wall_start_ + std::chrono::milliseconds(NowMs());
}

void VirtualClock::SetMessageHook(std::function<void()> hook) {
  std::lock_guard lock(hook_mutex_);
  hook_ = std::move(hook);
}

}  // namespace raid
