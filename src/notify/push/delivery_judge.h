// SPDX-License-Identifier: GPL-2.0-or-later
// How an attempt ended and whether another is due. Delivery is claimed only for a reply that says
// so; a request that went out without an answer is "unknown", never "sent"; and every reason
// shown has the channel's secrets masked.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "notify/push/push_types.h"

namespace raid {

// Waits between attempts grow from the first to the longest; no attempt starts later than the
// budget after the first one did.
inline constexpr std::chrono::seconds kFirstRetryWait{5};
inline constexpr std::chrono::seconds kLongestRetryWait{120};
inline constexpr std::chrono::seconds kRetryBudget{600};

// Delivered for a 2xx (Slack's also needs its "ok"), with the service's id for the message when
// the reply holds one; failed for any other status, with the status and the reply's first line,
// or for a request that never went out; unknown for a request that went out without an answer.
DeliveryOutcome JudgeReply(const ChannelConfig& channel, const HttpReply& reply);

// The wait before the next attempt, or nothing when the outcome of this one stands: a request
// that did not go out, a 5xx and a 429 are tried again (not before Retry-After says), another
// status is final, and an unanswered request is sent again only where that cannot post twice
// (Matrix names the message by its transaction id; Alertmanager merges alerts by their labels).
// `attempts` counts those made so far, `elapsed` the time since the first began.
std::optional<std::chrono::milliseconds> RetryWait(const ChannelConfig& channel,
                                                   const HttpReply& reply, unsigned attempts,
                                                   std::chrono::milliseconds elapsed,
                                                   std::chrono::system_clock::time_point now);

// A Retry-After value, in seconds or as an HTTP date, as the wait from `now`; nothing when it is
// neither.
std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view value,
                                                    std::chrono::system_clock::time_point now);

// "NAME: delivered (id X)", "NAME: delivered", "NAME: failed (why)", "NAME: unknown (why)".
std::string OutcomeText(std::string_view channel, const DeliveryOutcome& outcome);

// `text` with the channel's secrets replaced by "***": the token, and the parts of a webhook URL
// that let anybody post (Discord's and Slack's path, the sig of a Teams workflow, a password in
// the URL).
std::string MaskSecrets(std::string_view text, const ChannelConfig& channel);
// The channel's URL fit to show in a listing.
std::string MaskedUrl(const ChannelConfig& channel);

}  // namespace raid
