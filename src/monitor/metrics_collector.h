// SPDX-License-Identifier: GPL-2.0-or-later
// Gathers the metrics snapshot (monitor/metrics_text.h) from a monitoring core: the list, the
// status records and poll tallies, the SMART store, and the alert mailer's counts.
//
// SMART values are shown only for the drive they were read from: the collector notes which drive
// (model and serial) each data and thresholds read covered, and a read that failed, a drive that
// left or one that took its place drops them. The schedule reads the thresholds only until they
// have been read once; when a drive is swapped, the collector has them read again with the next
// SMART read, so that the new drive gets a verdict of its own.
//
// Threads: the pass listener runs on the RAID worker, Collect after a cycle of the workers'
// turns. raidctl monitor runs both on its one thread; the window does not use this.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "common/clock.h"
#include "monitor/metrics_text.h"
#include "monitor/monitor_core.h"
#include "notify/alert_mailer.h"
#include "notify/push/push_notifier.h"

namespace raid {

class MetricsCollector {
 public:
  // `mailer` may be null: no mail is then counted.
  MetricsCollector(MonitorCore& core, Clock& clock, const AlertMailer* mailer);
  ~MetricsCollector();
  MetricsCollector(const MetricsCollector&) = delete;
  MetricsCollector& operator=(const MetricsCollector&) = delete;

  // The push channels whose outcomes are counted from now on; null for none.
  void CountPushChannels(const PushNotifier* notifier) { push_ = notifier; }

  MetricsSnapshot Collect();

 private:
  // Which member drive a SMART read covered.
  struct DriveIdentity {
    unsigned physical_drive = 0;
    std::string model;
    std::string serial;
    bool operator==(const DriveIdentity&) const = default;
  };
  struct SmartReads {
    std::optional<DriveIdentity> data;  // empty: never read, or the last read failed
    std::optional<DriveIdentity> thresholds;
    std::chrono::system_clock::time_point data_read_at;
  };

  void OnSmartPass(std::uint8_t feature, const SmartReadPass& pass);
  // The drive in `position`'s port now, or nothing when no working drive is there.
  std::optional<DriveIdentity> DriveThere(unsigned position, unsigned drive) const;
  std::optional<MetricsSmart> SmartOf(unsigned position, unsigned drive) const;
  MetricsEnclosure EnclosureAt(unsigned position) const;

  MonitorCore& core_;
  Clock& clock_;
  const AlertMailer* mailer_;
  const PushNotifier* push_ = nullptr;
  std::array<std::array<SmartReads, kMemberDrives>, kSmartPositions> smart_{};
};

}  // namespace raid
