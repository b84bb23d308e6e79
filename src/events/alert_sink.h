// SPDX-License-Identifier: GPL-2.0-or-later
// Where the event detector raises alerts. The mailer composes and sends them; without one a
// recorder keeps them.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace raid {

enum class AlertKind : std::uint8_t {
  kHardDisksFail = 1,
  kDeviceRemoved = 2,
  kOverHeat = 3,
  kFanFail = 4,
};

struct AlertRequest {
  AlertKind kind;
  unsigned enclosure_index;
  unsigned port;
  bool operator==(const AlertRequest&) const = default;
};

class AlertSink {
 public:
  virtual ~AlertSink() = default;
  virtual void BuildAlertInfo(AlertKind kind, unsigned enclosure_index, unsigned port) = 0;
  // The detector has looked at a refreshed list: what the list holds now is what a later removal
  // alert describes.
  virtual void ListPolled() {}
  // What an alert of `kind` would tell of is not so now: a drive present, a sensor without its
  // alarm, an enclosure found at that place. Said on every look, whether an alert was raised or
  // not.
  virtual void ConditionCleared(AlertKind /*kind*/, unsigned /*enclosure_index*/,
                                unsigned /*port*/) {}
};

class RecordingAlertSink : public AlertSink {
 public:
  void BuildAlertInfo(AlertKind kind, unsigned enclosure_index, unsigned port) override {
    std::lock_guard lock(mutex_);
    alerts_.push_back({kind, enclosure_index, port});
  }
  std::vector<AlertRequest> Take() {
    std::lock_guard lock(mutex_);
    std::vector<AlertRequest> taken;
    taken.swap(alerts_);
    return taken;
  }

 private:
  std::mutex mutex_;
  std::vector<AlertRequest> alerts_;
};

// Hands each alert to the installed target, or records it while there is none.
class AlertRouter : public AlertSink {
 public:
  // Before the threads that raise alerts start, or while they are stopped.
  void SetTarget(AlertSink* target) { target_.store(target); }
  RecordingAlertSink& recorded() { return recorded_; }

  void BuildAlertInfo(AlertKind kind, unsigned enclosure_index, unsigned port) override {
    if (AlertSink* target = target_.load()) {
      target->BuildAlertInfo(kind, enclosure_index, port);
    } else {
      recorded_.BuildAlertInfo(kind, enclosure_index, port);
    }
  }
  void ListPolled() override {
    if (AlertSink* target = target_.load()) target->ListPolled();
  }
  void ConditionCleared(AlertKind kind, unsigned enclosure_index, unsigned port) override {
    if (AlertSink* target = target_.load()) target->ConditionCleared(kind, enclosure_index, port);
  }

 private:
  std::atomic<AlertSink*> target_{nullptr};
  RecordingAlertSink recorded_;
};

}  // namespace raid
