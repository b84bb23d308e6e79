// SPDX-License-Identifier: GPL-2.0-or-later
// What a push notification says, in the words of the alert mail: its subject as the title, its
// body lines as the text, and notes for a resolved condition, for a notification that stands for
// several alerts and for a text cut to fit a service.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "events/monitor_events.h"
#include "notify/alert_mailer.h"
#include "notify/push/push_types.h"

namespace raid {

// The hook event name of the test notification.
inline constexpr char kTestEventName[] = "test";

// The subject, with "Resolved: " before it for a condition that has cleared and "Reminder: "
// for one that still holds.
std::string NotificationTitle(const PushNotification& notification);
// The body lines, one a line, and "(stands for N alerts)" after them when it stands for more
// than one.
std::string NotificationBody(const PushNotification& notification);
// The title, a line break, the body: for services with a single text.
std::string NotificationText(const PushNotification& notification);

// The line that ends a text cut to fit a service.
inline constexpr char kCutShortText[] = "[cut short: too long for this service]";

// How a service counts the length of a text.
enum class TextMeasure { kBytes, kUtf16Units };

// `text` when it fits in `limit`; otherwise as much of it as fits with a note that says it was
// cut, never splitting a character.
std::string FitText(std::string_view text, std::size_t limit, TextMeasure measure);

// `text` with every byte sequence that is not UTF-8 replaced by U+FFFD: services refuse or
// mangle such text (ntfy turns a body that is not UTF-8 into an attachment).
std::string ValidUtf8(std::string_view text);

// The drive (1 for HDD1) an alert of `kind` for `port` names: a drive's failure only.
std::optional<unsigned> AlertDrive(AlertKind kind, unsigned port);

// An alert as its mail says it.
PushNotification AlertNotification(const AlertText& alert, std::string host,
                                   std::chrono::system_clock::time_point now);

// An enclosure that stopped answering (`answers` false), or that answers again: the latter
// resolves the former, which began at `since`.
PushNotification AnswerNotification(unsigned enclosure, bool answers, std::string host,
                                    std::chrono::system_clock::time_point since,
                                    std::chrono::system_clock::time_point now);

// The condition `firing` told of has cleared at `now`: its labels, since when it held, and a
// line that says what is well again.
PushNotification ResolvedNotification(const PushNotification& firing,
                                      std::chrono::system_clock::time_point now);

// `firing` told again at `now`: its text after a line that says since when it has held.
PushNotification ReminderNotification(const PushNotification& firing,
                                      std::chrono::system_clock::time_point now);

// The notification raidctl notify-test sends.
PushNotification PushTestNotification(std::string host,
                                      const std::vector<std::string>& system_info_lines,
                                      std::chrono::system_clock::time_point now);

}  // namespace raid
