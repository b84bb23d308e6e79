// SPDX-License-Identifier: GPL-2.0-or-later
#include "monitor/monitoring_loop.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

#include "common/exception_box.h"

namespace raid {

std::uint32_t LoopTimerIntervalMs(LoopTimer timer) {
  switch (timer) {
    case LoopTimer::kDetection:
      return kDetectionTimerMs;
    case LoopTimer::kStatusPoll:
      return kPollTimerMs;
    case LoopTimer::kSmartCountdown:
      return kClockTimerMs;
  }
  return kDetectionTimerMs;
}

MonitoringLoop::MonitoringLoop(MonitorCore& core, AlertSink* alerts,
                               std::function<void(PositionMask)> after_detection)
    : core_(core) {
  core_.alerts().SetTarget(alerts);
  core_.SetAfterDetection(std::move(after_detection));
}

MonitoringLoop::~MonitoringLoop() {
  core_.alerts().SetTarget(nullptr);
}

void MonitoringLoop::Start() {
  core_.schedule().Start();
}

void MonitoringLoop::Tick(LoopTimer timer) {
  PollingSchedule& schedule = core_.schedule();
  switch (timer) {
    case LoopTimer::kDetection:
      schedule.TickDetection();
      break;
    case LoopTimer::kStatusPoll:
      schedule.RequestStatusPoll();
      break;
    case LoopTimer::kSmartCountdown:
      schedule.TickSmartCountdown();
      break;
  }
}

bool MonitoringLoop::TimerOn(LoopTimer timer) const {
  const PollingSchedule& schedule = core_.schedule();
  switch (timer) {
    case LoopTimer::kDetection:
      return true;
    case LoopTimer::kStatusPoll:
      return schedule.StatusPollsOn();
    case LoopTimer::kSmartCountdown:
      return schedule.SmartCountdownOn();
  }
  return false;
}

void MonitoringLoop::DeviceChanged() {
  core_.schedule().DeviceChanged();
}

bool MonitoringLoop::WorkerTurn(UiSink& ui) {
  PollingSchedule& schedule = core_.schedule();
  bool worked = false;
  if (const std::optional<MessageBoxRequest> thrown = RunCatching([&] {
        schedule.DriveDetectLook();
        worked = schedule.RaidLook();
      })) {
    ui.ShowMessage(*thrown);
    return true;
  }
  return worked;
}

std::unique_ptr<DeviceChangeWatcher> MakeDeviceWatcher(bool platform_events, DiskSystem& disks,
                                                       Clock& clock, std::string& why) {
  why.clear();
  if (platform_events) {
    if (std::unique_ptr<DeviceChangeWatcher> watcher = CreatePlatformDeviceWatcher(&why)) {
      return watcher;
    }
  }
  return std::make_unique<RecountWatcher>(disks, clock);
}

ClockTimers::ClockTimers(std::uint64_t now) {
  for (std::size_t index = 0; index < kLoopTimers.size(); ++index)
    timers_[index].interval_ms = LoopTimerIntervalMs(kLoopTimers[index]);
  timers_[0] = {timers_[0].interval_ms, now, true};
}

void ClockTimers::FireDue(LoopTicks& ticks, std::uint64_t now) {
  for (std::size_t index = 0; index < kLoopTimers.size(); ++index) {
    Timer& timer = timers_[index];
    if (!timer.on || now < timer.next_ms) continue;
    ticks.Tick(kLoopTimers[index]);
    timer.next_ms += timer.interval_ms;
    if (timer.next_ms <= now) timer.next_ms = now + timer.interval_ms;
  }
}

void ClockTimers::Follow(const LoopTicks& ticks, std::uint64_t now) {
  for (std::size_t index = 0; index < kLoopTimers.size(); ++index) {
    Timer& timer = timers_[index];
    const bool on = ticks.TimerOn(kLoopTimers[index]);
    if (on && !timer.on) timer.next_ms = now + timer.interval_ms;
    timer.on = on;
  }
}

std::uint64_t ClockTimers::NextDue() const {
  std::uint64_t next = std::numeric_limits<std::uint64_t>::max();
  for (const Timer& timer : timers_)
    if (timer.on) next = std::min(next, timer.next_ms);
  return next;
}

}  // namespace raid
