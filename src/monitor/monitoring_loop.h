// SPDX-License-Identifier: GPL-2.0-or-later
// The monitoring loop, assembled in one place for both front ends: where alerts go, what runs
// after each detection, the device watcher, and the three timers that drive the polling schedule
// (detection, the status poll, the SMART countdown) with what each tick does and when each runs.
// The window runs the timers as its QTimers and the workers on threads of their own
// (WorkerThreads); raidctl runs everything on one thread, on its clock (ClockTimers and
// WorkerTurn).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/clock.h"
#include "common/shared_state.h"
#include "common/ui_sink.h"
#include "device/device_watch.h"
#include "device/disk_system.h"
#include "events/alert_sink.h"
#include "monitor/monitor_core.h"

namespace raid {

// The window's Timer4, Timer2 and Timer3, in the order a front end looks at them.
enum class LoopTimer : std::uint8_t { kDetection, kStatusPoll, kSmartCountdown };
inline constexpr std::array<LoopTimer, 3> kLoopTimers{LoopTimer::kDetection, LoopTimer::kStatusPoll,
                                                      LoopTimer::kSmartCountdown};
std::uint32_t LoopTimerIntervalMs(LoopTimer timer);

// What a front end's timers drive: a tick, and whether the timer runs at all.
class LoopTicks {
 public:
  virtual ~LoopTicks() = default;
  virtual void Tick(LoopTimer timer) = 0;
  virtual bool TimerOn(LoopTimer timer) const = 0;
};

class MonitoringLoop : public LoopTicks {
 public:
  // `alerts` receives each alert the detector raises (the mailer, or raidctl's report of them);
  // `after_detection` runs on the detecting worker after each status refresh.
  MonitoringLoop(MonitorCore& core, AlertSink* alerts,
                 std::function<void(PositionMask)> after_detection);
  // From here on, alerts are recorded by the core again.
  ~MonitoringLoop() override;
  MonitoringLoop(const MonitoringLoop&) = delete;
  MonitoringLoop& operator=(const MonitoringLoop&) = delete;

  // Arms the schedule; the detection timer runs from now on.
  void Start();
  // Detection ticks always; the status poll and the SMART countdown while the schedule wants.
  void Tick(LoopTimer timer) override;
  bool TimerOn(LoopTimer timer) const override;
  // A device change the watcher saw: detection waits for it to settle, then recounts.
  void DeviceChanged();
  // One turn of the workers on the caller's thread: the detection thread's look, then one item
  // of the RAID worker, so that the timers are looked at between items. An item that throws is
  // over (the schedule saw to that); it is shown through `ui`, and the monitoring goes on. True
  // when there was work; more may wait.
  bool WorkerTurn(UiSink& ui);

 private:
  MonitorCore& core_;
};

// The platform's device events where they can be had and are wanted, else a recount of the
// disks every 5 s. `why` says why the platform's events could not be had ("" when they were not
// wanted or were had).
std::unique_ptr<DeviceChangeWatcher> MakeDeviceWatcher(bool platform_events, DiskSystem& disks,
                                                       Clock& clock, std::string& why);

// The loop's timers on a clock, for a front end without an event loop. A timer that falls
// behind (the loop was busy with a discovery pass) fires once and goes on from then, as a
// window's timer does. The detection timer fires at once at the start.
class ClockTimers {
 public:
  explicit ClockTimers(std::uint64_t now);
  // Ticks every timer that is due, in kLoopTimers' order.
  void FireDue(LoopTicks& ticks, std::uint64_t now);
  // Starts the timers the loop has switched on, a whole interval from now, and stops the others.
  void Follow(const LoopTicks& ticks, std::uint64_t now);
  // When the next running timer is due.
  std::uint64_t NextDue() const;

 private:
  struct Timer {
    std::uint32_t interval_ms = 0;
    std::uint64_t next_ms = 0;
    bool on = false;
  };
  std::array<Timer, kLoopTimers.size()> timers_;
};

}  // namespace raid
