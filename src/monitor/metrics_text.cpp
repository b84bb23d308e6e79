// SPDX-License-Identifier: GPL-2.0-or-later
#include "monitor/metrics_text.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <utility>

#include "common/text_helpers.h"
#include "health/smart_verdict.h"
#include "status/controller_status.h"

namespace raid {
namespace {

constexpr std::uint64_t kSectorBytes = 512;
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD

// The stored modes with their label values, as ModeName names them; anything else is
// "undefined". Mode 2 (NRAID) has no constant: no controller reply decodes to it.
constexpr std::array<std::pair<std::uint8_t, std::string_view>, 5> kModes = {{
    {kModeStriping, "striping"},
    {kModeMirroring, "mirroring"},
    {2, "nraid"},
    {kModeJbod, "jbod"},
    {kModeBypass, "bypass"},
}};
constexpr std::string_view kUndefinedMode = "undefined";

constexpr std::array<std::uint8_t, 5> kDriveStates = {kDriveAbsent, kDrivePresent, kDriveFailed,
                                                      kDriveInserted, 0};

constexpr std::array<std::pair<ArrayOperation, std::string_view>, 3> kOperations = {{
    {ArrayOperation::kNone, "none"},
    {ArrayOperation::kRebuild, "rebuild"},
    {ArrayOperation::kScan, "scan"},
}};

constexpr std::array<std::string_view, 3> kVerdicts = {"good", "warning", "error"};

using Labels = std::vector<std::pair<std::string_view, std::string>>;

std::string EscapeHelp(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string Seconds(std::chrono::system_clock::time_point when) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
  return fmt::format("{}.{:03}", ms / 1000, ms % 1000);
}

std::string Flag(bool on) {
  return on ? "1" : "0";
}

std::string Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return "";
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

// "good", "warning" or "error", as the SMART page words the drive's verdict.
std::string VerdictName(std::uint8_t verdict) {
  std::string name = Trimmed(DriveVerdictText(verdict));
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name;
}

std::string_view ModeLabel(std::uint8_t mode) {
  for (const auto& [stored, label] : kModes) {
    if (stored == mode) return label;
  }
  return kUndefinedMode;
}

std::string_view OperationLabel(ArrayOperation operation) {
  for (const auto& [kind, label] : kOperations) {
    if (kind == operation) return label;
  }
  return kOperations[0].second;
}

std::string Position(unsigned position) {
  return std::to_string(position + 1);
}

// One metric family: its samples follow its HELP and TYPE lines; a family without samples is
// left out.
class Family {
 public:
  Family(std::string_view name, std::string_view type, std::string_view help)
      : name_(name), type_(type), help_(help) {}

  void Add(const Labels& labels, const std::string& value) {
    samples_ += name_;
    if (!labels.empty()) {
      samples_ += '{';
      for (std::size_t i = 0; i < labels.size(); ++i) {
        if (i != 0) samples_ += ',';
        samples_ += fmt::format("{}=\"{}\"", labels[i].first, EscapeLabelValue(labels[i].second));
      }
      samples_ += '}';
    }
    samples_ += ' ' + value + '\n';
  }

  void AppendTo(std::string& text) const {
    if (samples_.empty()) return;
    text += fmt::format("# HELP {} {}\n# TYPE {} {}\n", name_, EscapeHelp(help_), name_, type_);
    text += samples_;
  }

 private:
  std::string_view name_;
  std::string_view type_;
  std::string_view help_;
  std::string samples_;
};

Labels EnclosureLabels(const MetricsEnclosure& enclosure) {
  return {{"enclosure", Position(enclosure.position)}};
}

Labels DriveLabels(const MetricsEnclosure& enclosure, unsigned drive) {
  return {{"enclosure", Position(enclosure.position)}, {"port", std::to_string(drive + 1)}};
}

Labels With(Labels labels, std::string_view name, std::string value) {
  labels.emplace_back(name, std::move(value));
  return labels;
}

}  // namespace

std::string EscapeLabelValue(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  while (!text.empty()) {
    const char c = text.front();
    const std::size_t length = Utf8SequenceLength(text);
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '"') {
      escaped += "\\\"";
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (length == 0 || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      escaped += kReplacementCharacter;
    } else {
      escaped += text.substr(0, length);
    }
    text.remove_prefix(std::max<std::size_t>(length, 1));
  }
  return escaped;
}

std::string BuildMetricsText(const MetricsSnapshot& snapshot) {
  Family found("raidgui_enclosures", "gauge", "Enclosures found on the host.");
  Family up("raidgui_enclosure_up", "gauge",
            "Whether the enclosure answered its last status poll (1) or not (0).");
  Family monitored("raidgui_enclosure_monitored", "gauge",
                   "Whether the enclosure is still polled (0 after ten failed polls in a row).");
  Family info("raidgui_enclosure_info", "gauge",
              "The enclosure's physical drive number, controller model and firmware revision.");
  Family last_poll("raidgui_enclosure_last_poll_success_timestamp_seconds", "gauge",
                   "Unix time of the enclosure's last status poll that answered.");
  Family failed("raidgui_enclosure_poll_failures_total", "counter",
                "Status polls of this enclosure position that failed.");
  Family polls("raidgui_enclosure_polls_total", "counter",
               "Status polls of this enclosure position, answered or not.");
  Family mode("raidgui_array_mode", "gauge",
              "The array mode: 1 for the current one, 0 for the others.");
  Family capacity("raidgui_array_capacity_bytes", "gauge", "Capacity of the array in bytes.");
  Family operation("raidgui_array_operation", "gauge",
                   "What the array is doing: 1 for the current operation, 0 for the others.");
  Family progress("raidgui_array_operation_progress_ratio", "gauge",
                  "Progress of the running rebuild or surface scan from 0 to 1; port is the drive "
                  "rebuilt or scanned. Absent while neither runs.");
  Family fan("raidgui_enclosure_fan_speed_rpm", "gauge", "Fan speed in revolutions per minute.");
  Family temperature("raidgui_enclosure_temperature_celsius", "gauge",
                     "Temperature the enclosure reports, in degrees Celsius.");
  Family present("raidgui_drive_present", "gauge",
                 "Whether a working member drive is in the port (1) or not (0).");
  Family state("raidgui_drive_state", "gauge",
               "State of the member drive port: 1 for the current state, 0 for the others.");
  Family drive_capacity("raidgui_drive_capacity_bytes", "gauge",
                        "Capacity of the member drive in bytes.");
  Family drive_info("raidgui_drive_info", "gauge", "Model and serial number of the member drive.");
  Family smart_verdict(
      "raidgui_smart_verdict", "gauge",
      "The drive's overall SMART verdict: 1 for the current one, 0 for the others.");
  Family smart_raw("raidgui_smart_attribute_raw", "gauge",
                   "Raw value of a SMART attribute that the verdict looks at.");
  Family smart_read("raidgui_smart_last_read_timestamp_seconds", "gauge",
                    "Unix time of the drive's last SMART read that succeeded.");
  Family pushes_delivered("raidgui_notifications_delivered_total", "counter",
                          "Push notifications the channel's service said it took.");
  Family pushes_failed("raidgui_notifications_failed_total", "counter",
                       "Push notifications the service refused or that never went out.");
  Family pushes_unknown("raidgui_notifications_unknown_total", "counter",
                        "Push notifications sent without an answer: the service may have them.");
  Family push_last("raidgui_notification_last_delivered_timestamp_seconds", "gauge",
                   "Unix time of the channel's last delivered push notification.");
  Family mails_sent("raidgui_alert_mails_sent_total", "counter",
                    "Alert mails the mail server accepted.");
  Family mails_failed("raidgui_alert_mails_failed_total", "counter",
                      "Alert mails that could not be sent.");
  Family recipients_failed("raidgui_alert_mail_recipients_failed_total", "counter",
                           "Recipients an alert mail did not reach (refused or unusable).");

  found.Add({}, std::to_string(snapshot.enclosures_found));
  for (const MetricsEnclosure& enclosure : snapshot.enclosures) {
    const Labels labels = EnclosureLabels(enclosure);
    up.Add(labels, Flag(enclosure.answered));
    monitored.Add(labels, Flag(enclosure.monitored));
    info.Add(With(With(With(labels, "physical_drive", std::to_string(enclosure.physical_drive)),
                       "model", enclosure.model),
                  "firmware", enclosure.firmware),
             "1");
    if (enclosure.last_answered_at) last_poll.Add(labels, Seconds(*enclosure.last_answered_at));
    failed.Add(labels, std::to_string(enclosure.failed_polls));
    polls.Add(labels, std::to_string(enclosure.polls));

    if (enclosure.answered) {
      const std::string_view current_mode = ModeLabel(enclosure.mode);
      for (const auto& [stored, label] : kModes) {
        mode.Add(With(labels, "mode", std::string(label)), Flag(label == current_mode));
      }
      mode.Add(With(labels, "mode", std::string(kUndefinedMode)),
               Flag(current_mode == kUndefinedMode));
      capacity.Add(labels, std::to_string(enclosure.capacity_sectors * kSectorBytes));
      for (const auto& [kind, label] : kOperations) {
        operation.Add(With(labels, "operation", std::string(label)),
                      Flag(kind == enclosure.operation));
      }
      if (enclosure.operation != ArrayOperation::kNone) {
        progress.Add(With(DriveLabels(enclosure, enclosure.operation_drive), "operation",
                          std::string(OperationLabel(enclosure.operation))),
                     fmt::format("{}", enclosure.progress_percent / 100.0));
      }
      if (enclosure.fan_rpm) fan.Add(labels, std::to_string(*enclosure.fan_rpm));
      if (enclosure.temperature_celsius) {
        temperature.Add(labels, std::to_string(*enclosure.temperature_celsius));
      }
      for (unsigned drive = 0; drive < enclosure.drives.size(); ++drive) {
        const MetricsDrive& member = enclosure.drives[drive];
        const Labels port = DriveLabels(enclosure, drive);
        present.Add(port, Flag(member.state == kDrivePresent));
        for (const std::uint8_t each : kDriveStates) {
          state.Add(With(port, "state", std::string(DriveStateName(each))),
                    Flag(each == member.state));
        }
        // An empty port keeps the details of the drive that left it.
        if (member.state == kDriveAbsent) continue;
        drive_capacity.Add(port, std::to_string(member.capacity_sectors * kSectorBytes));
        drive_info.Add(With(With(port, "model", member.model), "serial", member.serial), "1");
      }
    }

    for (unsigned drive = 0; drive < enclosure.smart.size(); ++drive) {
      if (!enclosure.smart[drive]) continue;
      const MetricsSmart& smart = *enclosure.smart[drive];
      const Labels port = DriveLabels(enclosure, drive);
      smart_read.Add(port, Seconds(smart.read_at));
      if (smart.verdict) {
        const std::string current = VerdictName(*smart.verdict);
        for (const std::string_view verdict : kVerdicts) {
          smart_verdict.Add(With(port, "verdict", std::string(verdict)), Flag(verdict == current));
        }
      }
      for (const MetricsSmartAttribute& attribute : smart.attributes) {
        smart_raw.Add(With(With(port, "id", std::to_string(attribute.id)), "name", attribute.name),
                      std::to_string(attribute.raw));
      }
    }
  }
  for (const MetricsChannel& channel : snapshot.channels) {
    const Labels labels = {{"channel", channel.name}};
    pushes_delivered.Add(labels, std::to_string(channel.delivered));
    pushes_failed.Add(labels, std::to_string(channel.failed));
    pushes_unknown.Add(labels, std::to_string(channel.unknown));
    if (channel.last_delivered) push_last.Add(labels, Seconds(*channel.last_delivered));
  }
  mails_sent.Add({}, std::to_string(snapshot.alert_mails_sent));
  mails_failed.Add({}, std::to_string(snapshot.alert_mails_failed));
  recipients_failed.Add({}, std::to_string(snapshot.alert_mail_recipients_failed));

  std::string text;
  for (const Family* family : {&found,
                               &up,
                               &monitored,
                               &info,
                               &last_poll,
                               &failed,
                               &polls,
                               &mode,
                               &capacity,
                               &operation,
                               &progress,
                               &fan,
                               &temperature,
                               &present,
                               &state,
                               &drive_capacity,
                               &drive_info,
                               &smart_verdict,
                               &smart_raw,
                               &smart_read,
                               &pushes_delivered,
                               &pushes_failed,
                               &pushes_unknown,
                               &push_last,
                               &mails_sent,
                               &mails_failed,
                               &recipients_failed}) {
    family->AppendTo(text);
  }
  return text;
}

}  // namespace raid
