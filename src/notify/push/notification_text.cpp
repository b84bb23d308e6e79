// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/push/notification_text.h"

#include <fmt/format.h>

#include "common/product.h"
#include "common/text_helpers.h"

namespace raid {
namespace {

constexpr std::string_view kResolvedPrefix = "Resolved: ";
constexpr std::string_view kReminderPrefix = "Reminder: ";
constexpr std::string_view kStillText = "Unchanged since {} ({} hours ago).";
constexpr std::string_view kBeganText = "It began {}.";
constexpr std::string_view kStandsForText = "(stands for {} alerts)";
constexpr std::string_view kTestSubject = "Push notification test";
constexpr std::string_view kTestLine = "Push notification test!";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
constexpr std::string_view kNotAnsweringText = "does not answer";
constexpr std::string_view kAnswersAgainText = "answers again";

// What is well again when the condition of `firing` clears.
std::string ClearedLine(const PushNotification& firing) {
  const std::string device = fmt::format("Device{}", firing.enclosure);
  const auto is = [&firing](MonitorEventKind kind) {
    return firing.event == MonitorEventName(kind);
  };
  if (is(MonitorEventKind::kDiskFail) && firing.drive)
    return fmt::format("{} HDD{} is present again", device, *firing.drive);
  if (is(MonitorEventKind::kDeviceRemoved)) return device + " is found again";
  if (is(MonitorEventKind::kOverHeat)) return device + " temperature is normal again";
  if (is(MonitorEventKind::kFanFail)) return device + " fan is normal again";
  if (is(MonitorEventKind::kNoResponse)) return fmt::format("{} {}", device, kAnswersAgainText);
  return device + " is well again";
}

// What a character of `length` UTF-8 bytes costs in `measure`.
std::size_t Cost(std::size_t length, TextMeasure measure) {
  if (measure == TextMeasure::kBytes) return length;
  return length == 4 ? 2 : 1;
}

}  // namespace

std::string NotificationTitle(const PushNotification& notification) {
  const std::string_view prefix = notification.resolved   ? kResolvedPrefix
                                  : notification.reminder ? kReminderPrefix
                                                          : std::string_view();
  return std::string(prefix) + notification.subject;
}

std::string NotificationBody(const PushNotification& notification) {
  std::string body;
  for (const std::string& line : notification.body_lines) {
    if (!body.empty()) body += '\n';
    body += line;
  }
  if (notification.stands_for > 1) {
    if (!body.empty()) body += '\n';
    body += fmt::format(fmt::runtime(kStandsForText), notification.stands_for);
  }
  return body;
}

std::string NotificationText(const PushNotification& notification) {
  const std::string body = NotificationBody(notification);
  return NotificationTitle(notification) + (body.empty() ? "" : "\n" + body);
}

std::string FitText(std::string_view text, std::size_t limit, TextMeasure measure) {
  std::size_t total = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = std::max<std::size_t>(Utf8SequenceLength(text.substr(at)), 1);
    total += Cost(length, measure);
    at += length;
  }
  if (total <= limit) return std::string(text);
  const std::string cut_note = "\n" + std::string(kCutShortText);
  const std::size_t note = Cost(1, measure) * cut_note.size();  // the note is ASCII
  const std::size_t room = limit > note ? limit - note : 0;
  std::size_t used = 0;
  std::size_t end = 0;
  while (end < text.size()) {
    const std::size_t length = std::max<std::size_t>(Utf8SequenceLength(text.substr(end)), 1);
    if (used + Cost(length, measure) > room) break;
    used += Cost(length, measure);
    end += length;
  }
  return std::string(text.substr(0, end)) + cut_note.substr(0, limit - used);
}

std::string ValidUtf8(std::string_view text) {
  std::string valid;
  valid.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceLength(text.substr(at));
    if (length == 0) {
      valid += kReplacement;
      ++at;
    } else {
      valid += text.substr(at, length);
      at += length;
    }
  }
  return valid;
}

std::optional<unsigned> AlertDrive(AlertKind kind, unsigned port) {
  // The alert's port is the drive: 0 for HDD1.
  if (kind == AlertKind::kHardDisksFail && port < 2) return port + 1;
  return std::nullopt;
}

PushNotification AlertNotification(const AlertText& alert, std::string host,
                                   std::chrono::system_clock::time_point now) {
  PushNotification notification;
  notification.event = std::string(MonitorEventName(AlertEventKind(alert.kind)));
  notification.subject = alert.subject;
  notification.body_lines = alert.body;
  notification.host = std::move(host);
  notification.enclosure = alert.enclosure_index + 1;
  notification.drive = AlertDrive(alert.kind, alert.port);
  notification.starts_at = now;
  return notification;
}

PushNotification AnswerNotification(unsigned enclosure, bool answers, std::string host,
                                    std::chrono::system_clock::time_point since,
                                    std::chrono::system_clock::time_point now) {
  PushNotification notification;
  notification.event = std::string(MonitorEventName(MonitorEventKind::kNoResponse));
  notification.subject =
      fmt::format("[{} Message] Device{} {}", kTitleText, enclosure, kNotAnsweringText);
  notification.body_lines = {fmt::format("Device{} {}", enclosure, kNotAnsweringText)};
  notification.host = std::move(host);
  notification.enclosure = enclosure;
  notification.starts_at = answers ? since : now;
  return answers ? ResolvedNotification(notification, now) : notification;
}

PushNotification ResolvedNotification(const PushNotification& firing,
                                      std::chrono::system_clock::time_point now) {
  // It keeps the subject and labels of what it resolves; its title says "Resolved".
  PushNotification resolved = firing;
  resolved.resolved = true;
  resolved.reminder = false;
  resolved.ends_at = now;
  resolved.body_lines = {ClearedLine(firing),
                         fmt::format(fmt::runtime(kBeganText), UtcTimeText(firing.starts_at))};
  resolved.stands_for = 1;
  return resolved;
}

PushNotification ReminderNotification(const PushNotification& firing,
                                      std::chrono::system_clock::time_point now) {
  PushNotification reminder = firing;
  reminder.reminder = true;
  const auto hours = std::chrono::duration_cast<std::chrono::hours>(now - firing.starts_at);
  reminder.body_lines.insert(
      reminder.body_lines.begin(),
      fmt::format(fmt::runtime(kStillText), UtcTimeText(firing.starts_at), hours.count()));
  return reminder;
}

PushNotification PushTestNotification(std::string host,
                                      const std::vector<std::string>& system_info_lines,
                                      std::chrono::system_clock::time_point now) {
  PushNotification test;
  test.event = kTestEventName;
  test.subject = fmt::format("[{} Message] {}", kTitleText, kTestSubject);
  test.body_lines = {fmt::format("[{}] {}", kTitleText, kTestLine)};
  test.body_lines.insert(test.body_lines.end(), system_info_lines.begin(), system_info_lines.end());
  test.host = std::move(host);
  test.starts_at = now;
  return test;
}

}  // namespace raid
