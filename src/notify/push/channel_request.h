// SPDX-License-Identifier: GPL-2.0-or-later
// The HTTP request each kind of channel sends for a notification, built without a network: the
// service's URL and method, its headers and the body in the form the service reads. A secret
// travels in a header, never in a body, and only in the URL the user gave.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "notify/push/push_types.h"

namespace raid {

// The alert name webhook and Alertmanager receivers see.
inline constexpr char kPushAlertName[] = "RaidguiAlert";

// The longest text each service takes: ntfy's message and title (an encoded-word of this stays
// under its 1,024 bytes), Discord's content and Slack's text as documented; the whole card a
// Teams workflow posts (about 28 KB allowed) and the message of a Matrix event (64 KiB for the
// whole event), with room for what surrounds them.
inline constexpr std::size_t kNtfyTextMaxBytes = 4096;
inline constexpr std::size_t kNtfyTitleMaxBytes = 700;
inline constexpr std::size_t kDiscordTextMaxUnits = 2000;
inline constexpr std::size_t kSlackTextMaxUnits = 40000;
inline constexpr std::size_t kTeamsCardMaxBytes = 27 * 1024;
inline constexpr std::size_t kMatrixTextMaxBytes = 60000;

// `transaction_id` names the notification to Matrix: the same on every attempt, so that a retry
// after an unanswered request cannot post the message twice.
HttpRequest BuildChannelRequest(const ChannelConfig& channel, const PushNotification& notification,
                                std::string_view transaction_id);

// The host label when the host's name is not known (Windows names it from WMI, which may not
// answer): Alertmanager takes an empty label for a missing one.
inline constexpr char kUnknownHostLabel[] = "unknown";

// The labels of a notification as Alertmanager and webhook receivers see them: alertname, event,
// host (kUnknownHostLabel when not known), enclosure ("0" when none applies) and drive ("HDD1",
// "HDD2", only when one applies).
std::map<std::string, std::string> PushAlertLabels(const PushNotification& notification);

// A stable hexadecimal digest of `labels` (64-bit FNV-1a over the sorted pairs, as Prometheus
// fingerprints a label set).
std::string LabelFingerprint(const std::map<std::string, std::string>& labels);

// `base` with `path` after its own path, before any query: no double slash.
std::string JoinUrlPath(std::string_view base, std::string_view path);

// RFC 3986 percent-encoding of everything but the unreserved characters.
std::string PercentEncode(std::string_view text);

}  // namespace raid
