// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/event_hook.h"

#include <fmt/format.h>

namespace raid::cli {
namespace {

std::string OutcomeText(const HookOutcome& outcome, std::chrono::milliseconds limit) {
  switch (outcome.kind) {
    case HookOutcome::Kind::kExited:
      // Windows reports a crash as an exception code in the exit status.
      return outcome.code > 0xFFFF ? fmt::format("exited with status 0x{:08X}", outcome.code)
                                   : fmt::format("exited with status {}", outcome.code);
    case HookOutcome::Kind::kSignalled:
      return fmt::format("killed by signal {} ({})", outcome.code, outcome.why);
    case HookOutcome::Kind::kTimedOut:
      return fmt::format("stopped after its limit of {:g} s", limit.count() / 1000.0);
    case HookOutcome::Kind::kNotStarted:
      return "could not be started: " + outcome.why;
    case HookOutcome::Kind::kLost:
      return "how it ended is unknown: " + outcome.why;
    case HookOutcome::Kind::kAbandoned:
      return "ended before it finished: the monitor stopped";
  }
  return "";
}

}  // namespace

EventHookRunner::EventHookRunner(std::string program, std::chrono::milliseconds limit,
                                 Reporter report, Launcher launch, std::size_t capacity)
    : program_(std::move(program)),
      limit_(limit),
      report_(std::move(report)),
      launch_(std::move(launch)),
      capacity_(capacity),
      worker_([this] { Work(); }) {}

EventHookRunner::~EventHookRunner() {
  Stop();
}

void EventHookRunner::Report(const MonitorEvent& event, const std::string& what) {
  report_(fmt::format("raidctl: hook {} for {}: {}", program_, EventDescription(event), what));
}

void EventHookRunner::Post(const MonitorEvent& event) {
  bool stopped = false;
  {
    std::lock_guard lock(mutex_);
    stopped = stopping_;
    if (!stopped && waiting_.size() < capacity_) {
      waiting_.push_back(event);
      wake_.notify_one();
      return;
    }
  }
  Report(event, stopped ? "not run: the monitor stopped"
                        : fmt::format("not run: {} events wait already", capacity_));
}

void EventHookRunner::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    abandon_ = true;
    wake_.notify_one();
  }
  if (worker_.joinable()) worker_.join();
  std::deque<MonitorEvent> left;
  {
    std::lock_guard lock(mutex_);
    left.swap(waiting_);
  }
  for (const MonitorEvent& event : left) {
    Report(event, "not run: the monitor stopped");
  }
}

void EventHookRunner::Work() {
  for (;;) {
    MonitorEvent event;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
      if (stopping_) return;
      event = std::move(waiting_.front());
      waiting_.pop_front();
    }
    const HookOutcome outcome = launch_(program_, HookVariables(event), limit_, abandon_);
    if (outcome.kind != HookOutcome::Kind::kExited || outcome.code != 0) {
      Report(event, OutcomeText(outcome, limit_));
    }
  }
}

}  // namespace raid::cli
