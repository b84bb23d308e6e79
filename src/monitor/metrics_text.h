// SPDX-License-Identifier: GPL-2.0-or-later
// What the monitor knows, as the Prometheus text exposition format (version 0.0.4, the format
// the node exporter's textfile collector reads). The snapshot is plain data gathered after a poll
// cycle; BuildMetricsText only writes it out. Samples carry no time stamps: the textfile
// collector refuses them.
//
// Every series names its enclosure by list position (enclosure="1" is Device1) and a member
// drive by its port (port="1" is HDD1). Series that describe the array and its drives are there
// only while the enclosure answers its polls; a progress series only while a rebuild or scan
// runs; fan and temperature only for an enclosure that reports them; SMART series only for a
// drive whose last SMART reads succeeded.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace raid {

enum class ArrayOperation { kNone, kRebuild, kScan };

struct MetricsDrive {
  std::uint8_t state = 0;  // ControllerStatus::DriveState: kDriveAbsent ... kDriveInserted, or 0
  std::uint64_t capacity_sectors = 0;
  std::string model;
  std::string serial;
};

struct MetricsSmartAttribute {
  std::uint8_t id = 0;
  std::string name;
  std::uint64_t raw = 0;
};

// What the last SMART reads left of the member drive that is there now.
struct MetricsSmart {
  std::chrono::system_clock::time_point read_at;  // the last data read that succeeded
  // The raw values of the attributes in the table that the verdict rules look at.
  std::vector<MetricsSmartAttribute> attributes;
  // The drive's verdict (health/smart_verdict.h), when the thresholds read too was of this drive.
  std::optional<std::uint8_t> verdict;
};

struct MetricsEnclosure {
  unsigned position = 0;  // 0 is "Device1"
  unsigned physical_drive = 0;
  std::string model;
  std::string firmware;
  bool monitored = true;  // it is polled: its monitor box is still checked
  bool answered = false;  // its last poll answered; the fields from `mode` on hold only then
  std::optional<std::chrono::system_clock::time_point> last_answered_at;
  std::uint64_t failed_polls = 0;
  std::uint64_t polls = 0;  // status polls that ran, answered or not

  std::uint8_t mode = 0;  // as stored: kModeStriping ...
  std::uint64_t capacity_sectors = 0;
  ArrayOperation operation = ArrayOperation::kNone;
  unsigned operation_drive = 0;  // the drive rebuilt or scanned: 0 HDD1, 1 HDD2
  std::uint8_t progress_percent = 0;
  std::optional<std::uint16_t> fan_rpm;  // both only when the enclosure reports its sensors
  std::optional<std::uint8_t> temperature_celsius;
  std::array<MetricsDrive, 2> drives;
  std::array<std::optional<MetricsSmart>, 2> smart;
};

// A push channel's outcomes, named as the user named the channel.
struct MetricsChannel {
  std::string name;
  std::uint64_t delivered = 0;
  std::uint64_t failed = 0;
  std::uint64_t unknown = 0;
  std::optional<std::chrono::system_clock::time_point> last_delivered;
};

struct MetricsSnapshot {
  unsigned enclosures_found = 0;             // the whole list, polled or not
  std::vector<MetricsEnclosure> enclosures;  // the positions the monitor polls
  std::uint64_t alert_mails_sent = 0;
  std::uint64_t alert_mails_failed = 0;
  std::uint64_t alert_mail_recipients_failed = 0;
  std::vector<MetricsChannel> channels;  // the push channels, in notify.toml's order
};

std::string BuildMetricsText(const MetricsSnapshot& snapshot);

// A label value as the format wants it: backslash, double quote and line feed escaped. Texts come
// from the hardware: a byte that is not UTF-8, and any other control character, becomes U+FFFD,
// since a reader rejects the whole file for one such label.
std::string EscapeLabelValue(std::string_view text);

}  // namespace raid
