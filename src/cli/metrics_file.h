// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl monitor --metrics FILE: the enclosures' state in the Prometheus text format, in the file
// the node exporter's textfile collector reads. The file is replaced whole (written beside,
// forced to disk, renamed over), so a reader sees the old text or the new, never part of one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "cli/cli_session.h"
#include "monitor/metrics_collector.h"
#include "notify/alert_mailer.h"

namespace raid::cli {

class MetricsFile {
 public:
  // `refresh_ms`: the longest time between two writes, on the session's clock.
  MetricsFile(std::filesystem::path path, std::uint64_t refresh_ms);

  // Said once at the start: where the metrics go, and what already stands in their way.
  void Announce();
  // Replaces the file with `text` when it says something new, and at least every `refresh_ms`
  // anyway, so that the file's age tells whether the monitor is still at work. A failure is told
  // once, and again when writing works again; it never stops the monitor.
  void Offer(const std::string& text, std::uint64_t now_ms);

 private:
  void Failed(const std::string& why);

  std::filesystem::path path_;
  std::uint64_t refresh_ms_;
  bool attempted_ = false;
  std::string last_text_;
  std::uint64_t last_attempt_ms_ = 0;
  bool failing_ = false;
};

// The metrics of a running monitor, gathered on the monitor's own thread and offered to the file:
// when a list is installed, once per poll interval, and at the stop. Gathering after every turn
// of the workers would cost more than the polling itself with ten enclosures.
class MonitorMetrics {
 public:
  // `mailer` may be null (no mail in this build), and `push` (no push channels).
  MonitorMetrics(CliSession& session, const AlertMailer* mailer, const PushNotifier* push,
                 std::filesystem::path path);
  void AfterCycle();
  void AtStop() { Gather(); }
  // The push channels read again: their counts from now on.
  void CountPushChannels(const PushNotifier* push) { collector_.CountPushChannels(push); }

 private:
  void Gather();

  CliSession& session_;
  MetricsCollector collector_;
  MetricsFile file_;
  unsigned lists_seen_ = 0;
  std::optional<std::uint64_t> gathered_ms_;
};

}  // namespace raid::cli
