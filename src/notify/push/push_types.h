// SPDX-License-Identifier: GPL-2.0-or-later
// What the push channels (ntfy, Gotify, webhooks, Alertmanager, chat services) are made of: a
// channel as notify.toml describes it, one notification, the HTTP request a channel sends for it,
// the reply, and how an attempt ended. Delivery is only ever claimed for a reply that says so.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace raid {

enum class ChannelType : std::uint8_t {
  kNtfy,
  kGotify,
  kWebhook,
  kAlertmanager,
  kDiscord,
  kSlack,
  kMatrix,
  kTeams,
};

// How often a problem that lasts is told again: never, every day, or after 1, 2, 4 ... days.
enum class RemindPolicy : std::uint8_t { kOnce, kDaily, kDiminishing };

// One [[channel]] table of notify.toml.
struct ChannelConfig {
  std::string name;  // the user's name for it: in outcomes, messages and metrics
  ChannelType type = ChannelType::kNtfy;
  std::string url;
  std::string token;                // inline or read from token_file; empty for none
  std::vector<std::string> events;  // hook event names ("disk-fail", ...)
  RemindPolicy remind = RemindPolicy::kOnce;
  std::string room;     // Matrix only: the room id
  std::string ca_file;  // PEM certificates trusted besides the system's store; empty for none
  std::uint32_t timeout_seconds = 30;  // for connecting and for the whole exchange
  bool operator==(const ChannelConfig&) const = default;
};

// One thing to tell: an alert raised, a condition that cleared, a reminder, or the test.
struct PushNotification {
  std::string event;      // the hook event name, or "test"
  bool resolved = false;  // the condition has cleared (Alertmanager and webhook say "resolved")
  bool reminder = false;  // the condition still holds, told again
  std::string subject;    // the alert mail's subject
  std::vector<std::string> body_lines;  // the alert mail's body lines
  std::string host;
  unsigned enclosure = 0;         // N of DeviceN; 0 when none applies
  std::optional<unsigned> drive;  // 1 for HDD1, 2 for HDD2
  std::chrono::system_clock::time_point starts_at{};
  std::optional<std::chrono::system_clock::time_point> ends_at;
  unsigned stands_for = 1;  // how many alerts a merged notification stands for
  bool operator==(const PushNotification&) const = default;
};

struct HttpRequest {
  std::string method;  // "POST" or "PUT"
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool operator==(const HttpRequest&) const = default;
};

struct HttpReply {
  enum class Stage : std::uint8_t {
    kNotSent,   // failed before the request went out (name lookup, connect, TLS): retryable
    kNoAnswer,  // the request went out and no complete reply came within the time-out
    kAnswered,  // a status line and what followed, within the bound kept
  };
  Stage stage = Stage::kNotSent;
  int status = 0;
  std::string body;                        // the reply's first bytes (a few KiB at most)
  std::optional<std::string> retry_after;  // the Retry-After header's value
  std::string error;                       // why, for kNotSent and kNoAnswer
};

enum class DeliveryKind : std::uint8_t { kDelivered, kFailed, kUnknown };

struct DeliveryOutcome {
  DeliveryKind kind = DeliveryKind::kFailed;
  std::string id;      // kDelivered: the service's id for the message, when it gives one
  std::string reason;  // kFailed and kUnknown: why, secrets masked
  bool operator==(const DeliveryOutcome&) const = default;
};

}  // namespace raid
