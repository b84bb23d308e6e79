// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/push/channel_request.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "common/product.h"
#include "events/monitor_events.h"
#include "notify/mail_message.h"
#include "notify/push/notification_merge.h"
#include "notify/push/notification_text.h"

namespace raid {
namespace {

using Json = nlohmann::ordered_json;

constexpr char kJsonType[] = "application/json";
constexpr char kPlainTextType[] = "text/plain; charset=utf-8";
// What Alertmanager writes for an alert that has not ended.
constexpr char kZeroTime[] = "0001-01-01T00:00:00Z";
constexpr int kGotifyHighPriority = 8;
constexpr int kGotifyNormalPriority = 5;

std::string UserAgent() {
  std::string_view version = kVersionText;
  if (version.starts_with('v')) version.remove_prefix(1);
  return "raidgui/" + std::string(version);
}

std::string Dump(const Json& document) {
  // Invalid UTF-8 becomes U+FFFD instead of an exception.
  return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// A header value on one line: a line break in it would start a header of its own.
std::string HeaderValue(std::string_view text) {
  std::string value;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    value += c == '\r' || c == '\n' ? ' ' : byte < 0x20 || byte == 0x7F ? '?' : c;
  }
  return value;
}

// Printable ASCII as it is; anything else as an RFC 2047 encoded-word, which ntfy decodes.
std::string EncodedHeaderText(std::string_view text) {
  const std::string value = HeaderValue(ValidUtf8(text));
  const bool plain = std::all_of(value.begin(), value.end(), [](char c) {
    return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
  });
  if (plain) return value;
  return "=?UTF-8?B?" + EncodeBase64(value) + "?=";
}

bool IsUrgent(const PushNotification& notification) {
  return IsGraveNotification(notification);
}

void AddBearer(const ChannelConfig& channel, HttpRequest& request) {
  if (!channel.token.empty())
    request.headers.emplace_back("Authorization", "Bearer " + HeaderValue(channel.token));
}

// The body lines, or the title when there are none: ntfy would say "triggered", Gotify refuses
// an empty message.
std::string MessageText(const PushNotification& notification) {
  std::string body = NotificationBody(notification);
  return body.empty() ? NotificationTitle(notification) : body;
}

HttpRequest Base(std::string method, std::string url, const char* content_type) {
  HttpRequest request;
  request.method = std::move(method);
  request.url = std::move(url);
  request.headers = {{"Content-Type", content_type}, {"User-Agent", UserAgent()}};
  return request;
}

HttpRequest Ntfy(const ChannelConfig& channel, const PushNotification& notification) {
  HttpRequest request = Base("POST", channel.url, kPlainTextType);
  request.headers.emplace_back("Title",
                               EncodedHeaderText(FitText(ValidUtf8(NotificationTitle(notification)),
                                                         kNtfyTitleMaxBytes, TextMeasure::kBytes)));
  request.headers.emplace_back("Priority", IsUrgent(notification) ? "high" : "default");
  request.headers.emplace_back(
      "Tags", std::string(notification.resolved ? "white_check_mark" : "warning") + "," +
                  HeaderValue(notification.event));
  AddBearer(channel, request);
  request.body =
      FitText(ValidUtf8(MessageText(notification)), kNtfyTextMaxBytes, TextMeasure::kBytes);
  return request;
}

HttpRequest Gotify(const ChannelConfig& channel, const PushNotification& notification) {
  HttpRequest request = Base("POST", JoinUrlPath(channel.url, "/message"), kJsonType);
  if (!channel.token.empty())
    request.headers.emplace_back("X-Gotify-Key", HeaderValue(channel.token));
  request.body = Dump(Json{
      {"title", ValidUtf8(NotificationTitle(notification))},
      {"message", ValidUtf8(MessageText(notification))},
      {"priority", IsUrgent(notification) ? kGotifyHighPriority : kGotifyNormalPriority},
  });
  return request;
}

Json Annotations(const PushNotification& notification) {
  return Json{{"summary", ValidUtf8(notification.subject)},
              {"description", ValidUtf8(NotificationBody(notification))}};
}

// A resolved alert ends when it says; without a time of its own, when it was told.
std::string EndsAt(const PushNotification& notification) {
  if (!notification.resolved) return kZeroTime;
  return UtcTimeText(notification.ends_at.value_or(notification.starts_at));
}

// Go's %q for the label values of a group key.
std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

HttpRequest Webhook(const ChannelConfig& channel, const PushNotification& notification) {
  HttpRequest request = Base("POST", channel.url, kJsonType);
  AddBearer(channel, request);
  const std::map<std::string, std::string> labels = PushAlertLabels(notification);
  const std::map<std::string, std::string> group = {{"alertname", labels.at("alertname")},
                                                    {"host", labels.at("host")}};
  std::string group_key = "{}:{";
  for (const auto& [name, value] : group)
    group_key += (group_key.size() > 4 ? ", " : "") + name + "=" + Quoted(value);
  group_key += "}";
  const char* status = notification.resolved ? "resolved" : "firing";
  request.body = Dump(Json{
      {"version", "4"},
      {"groupKey", group_key},
      {"truncatedAlerts", 0},
      {"status", status},
      {"receiver", channel.name},
      {"groupLabels", group},
      {"commonLabels", labels},
      {"commonAnnotations", Annotations(notification)},
      {"externalURL", ""},
      {"alerts", Json::array({Json{
                     {"status", status},
                     {"labels", labels},
                     {"annotations", Annotations(notification)},
                     {"startsAt", UtcTimeText(notification.starts_at)},
                     {"endsAt", EndsAt(notification)},
                     {"generatorURL", ""},
                     {"fingerprint", LabelFingerprint(labels)},
                 }})},
  });
  return request;
}

HttpRequest Alertmanager(const ChannelConfig& channel, const PushNotification& notification) {
  HttpRequest request = Base("POST", JoinUrlPath(channel.url, "/api/v2/alerts"), kJsonType);
  AddBearer(channel, request);
  Json alert{{"labels", PushAlertLabels(notification)},
             {"annotations", Annotations(notification)},
             {"startsAt", UtcTimeText(notification.starts_at)}};
  // Alertmanager ends a firing alert by itself after its resolve_timeout.
  if (notification.resolved) alert["endsAt"] = EndsAt(notification);
  request.body = Dump(Json::array({alert}));
  return request;
}

HttpRequest Discord(const ChannelConfig& channel, const PushNotification& notification) {
  // wait=true: Discord answers with the message it stored, instead of an empty 204.
  std::string url = channel.url;
  const std::size_t query = url.find('?');
  const bool has_wait =
      query != std::string::npos && (url.find("?wait=", query) != std::string::npos ||
                                     url.find("&wait=", query) != std::string::npos);
  if (!has_wait) url += (query == std::string::npos ? "?" : "&") + std::string("wait=true");
  HttpRequest request = Base("POST", url, kJsonType);
  request.body = Dump(Json{
      {"content", FitText(ValidUtf8(NotificationText(notification)), kDiscordTextMaxUnits,
                          TextMeasure::kUtf16Units)},
      // A device text that says @everyone must not ping anybody.
      {"allowed_mentions", Json{{"parse", Json::array()}}},
  });
  return request;
}

// Slack reads &, < and > as its own markup.
std::string SlackEscaped(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '&') {
      escaped += "&amp;";
    } else if (c == '<') {
      escaped += "&lt;";
    } else if (c == '>') {
      escaped += "&gt;";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

HttpRequest Slack(const ChannelConfig& channel, const PushNotification& notification) {
  HttpRequest request = Base("POST", channel.url, kJsonType);
  request.body =
      Dump(Json{{"text", SlackEscaped(FitText(ValidUtf8(NotificationText(notification)),
                                              kSlackTextMaxUnits, TextMeasure::kUtf16Units))}});
  return request;
}

HttpRequest Matrix(const ChannelConfig& channel, const PushNotification& notification,
                   std::string_view transaction_id) {
  HttpRequest request =
      Base("PUT",
           JoinUrlPath(channel.url, "/_matrix/client/v3/rooms/" + PercentEncode(channel.room) +
                                        "/send/m.room.message/" + PercentEncode(transaction_id)),
           kJsonType);
  AddBearer(channel, request);
  request.body = Dump(Json{
      {"msgtype", "m.text"},
      {"body", FitText(ValidUtf8(NotificationText(notification)), kMatrixTextMaxBytes,
                       TextMeasure::kBytes)},
  });
  return request;
}

Json TeamsMessage(Json blocks) {
  return Json{
      {"type", "message"},
      {"attachments", Json::array({Json{
                          {"contentType", "application/vnd.microsoft.card.adaptive"},
                          {"contentUrl", nullptr},
                          {"content",
                           Json{
                               {"$schema", "http://adaptivecards.io/schemas/adaptive-card.json"},
                               {"type", "AdaptiveCard"},
                               {"version", "1.4"},
                               {"body", std::move(blocks)},
                           }},
                      }})},
  };
}

Json TextBlock(std::string text, bool title) {
  Json block{{"type", "TextBlock"}, {"text", std::move(text)}, {"wrap", true}};
  if (title) {
    block["weight"] = "Bolder";
    block["size"] = "Medium";
  } else {
    block["spacing"] = "None";
  }
  return block;
}

HttpRequest Teams(const ChannelConfig& channel, const PushNotification& notification) {
  HttpRequest request = Base("POST", channel.url, kJsonType);
  const std::string text = ValidUtf8(NotificationText(notification));
  // The title in bold, then a text block a line (a card shows no line break inside a block), as
  // many as fit in the card with the note that the rest was cut.
  const std::size_t note = Dump(TextBlock(kCutShortText, false)).size() + 1;
  std::size_t used = Dump(TeamsMessage(Json::array())).size() + note;
  Json blocks = Json::array();
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    // A line longer than a whole card keeps its start.
    line = FitText(line, kTeamsCardMaxBytes / 2, TextMeasure::kBytes);
    Json block = TextBlock(std::move(line), blocks.empty());
    const std::size_t size = Dump(block).size() + 1;
    if (used + size > kTeamsCardMaxBytes) {
      blocks.push_back(TextBlock(kCutShortText, false));
      break;
    }
    used += size;
    blocks.push_back(std::move(block));
  }
  request.body = Dump(TeamsMessage(std::move(blocks)));
  return request;
}

}  // namespace

HttpRequest BuildChannelRequest(const ChannelConfig& channel, const PushNotification& notification,
                                std::string_view transaction_id) {
  switch (channel.type) {
    case ChannelType::kNtfy:
      return Ntfy(channel, notification);
    case ChannelType::kGotify:
      return Gotify(channel, notification);
    case ChannelType::kWebhook:
      return Webhook(channel, notification);
    case ChannelType::kAlertmanager:
      return Alertmanager(channel, notification);
    case ChannelType::kDiscord:
      return Discord(channel, notification);
    case ChannelType::kSlack:
      return Slack(channel, notification);
    case ChannelType::kMatrix:
      return Matrix(channel, notification, transaction_id);
    case ChannelType::kTeams:
      return Teams(channel, notification);
  }
  return {};
}

std::map<std::string, std::string> PushAlertLabels(const PushNotification& notification) {
  std::map<std::string, std::string> labels = {
      {"alertname", kPushAlertName},
      {"event", ValidUtf8(notification.event)},
      {"host",
       notification.host.empty() ? std::string(kUnknownHostLabel) : ValidUtf8(notification.host)}};
  // Always there, so that receivers can route on it; 0 where no enclosure applies (the test).
  labels["enclosure"] = std::to_string(notification.enclosure);
  if (notification.drive) labels["drive"] = "HDD" + std::to_string(*notification.drive);
  return labels;
}

std::string LabelFingerprint(const std::map<std::string, std::string>& labels) {
  constexpr std::uint64_t kOffset = 14695981039346656037ULL;
  constexpr std::uint64_t kPrime = 1099511628211ULL;
  std::uint64_t hash = kOffset;
  const auto add = [&](std::string_view text) {
    for (const char c : text) {
      hash ^= static_cast<unsigned char>(c);
      hash *= kPrime;
    }
    hash ^= 0xFF;  // a separator no UTF-8 text holds
    hash *= kPrime;
  };
  for (const auto& [name, value] : labels) {
    add(name);
    add(value);
  }
  return fmt::format("{:016x}", hash);
}

std::string JoinUrlPath(std::string_view base, std::string_view path) {
  base = base.substr(0, base.find('#'));  // a fragment never goes to the server
  const std::size_t query = std::min(base.find('?'), base.size());
  std::string_view head = base.substr(0, query);
  while (head.ends_with('/'))
    head.remove_suffix(1);
  while (path.starts_with('/'))
    path.remove_prefix(1);
  return std::string(head) + "/" + std::string(path) + std::string(base.substr(query));
}

std::string PercentEncode(std::string_view text) {
  std::string encoded;
  for (const char c : text) {
    const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      encoded += c;
    } else {
      encoded += fmt::format("%{:02X}", static_cast<unsigned char>(c));
    }
  }
  return encoded;
}

}  // namespace raid
