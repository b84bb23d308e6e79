// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/push/condition_tracker.h"

#include <algorithm>

#include "notify/push/notification_text.h"

namespace raid {
namespace {

constexpr std::chrono::hours kDay{24};
// Past this many reminders a diminishing schedule's next would lie centuries ahead.
constexpr unsigned kMaxDoublings = 20;

}  // namespace

ConditionKey KeyOf(const PushNotification& notification) {
  return {notification.event, notification.enclosure, notification.drive.value_or(0)};
}

std::vector<ChannelSchedule> SchedulesOf(const std::vector<ChannelConfig>& channels) {
  std::vector<ChannelSchedule> schedules;
  for (const ChannelConfig& channel : channels) {
    // Alertmanager repeats what it routes by its own rules: it needs the re-posts, not reminders.
    const bool reposts = channel.type == ChannelType::kAlertmanager;
    schedules.push_back({reposts, reposts ? RemindPolicy::kOnce : channel.remind});
  }
  return schedules;
}

std::optional<WallTime> ReminderTime(RemindPolicy remind, WallTime since, unsigned n) {
  if (n == 0) return std::nullopt;
  switch (remind) {
    case RemindPolicy::kOnce:
      return std::nullopt;
    case RemindPolicy::kDaily:
      return since + kDay * n;
    case RemindPolicy::kDiminishing:
      // After 1, 2, 4 ... days: the n-th falls 2^n - 1 days after the start.
      if (n > kMaxDoublings) return std::nullopt;
      return since + kDay * ((1U << n) - 1);
  }
  return std::nullopt;
}

ConditionTracker::ConditionTracker(std::vector<ChannelSchedule> channels)
    : channels_(std::move(channels)) {}

ConditionTracker::Held ConditionTracker::MakeHeld(const PushNotification& firing,
                                                  WallTime repost_at, WallTime now) const {
  Held held{firing, repost_at, {}, {}};
  for (const ChannelSchedule& channel : channels_) {
    // The first reminder still ahead, as if the tracker had held it from its start.
    unsigned n = 1;
    std::optional<WallTime> at = ReminderTime(channel.remind, firing.starts_at, n);
    while (at && *at <= now)
      at = ReminderTime(channel.remind, firing.starts_at, ++n);
    held.next_reminder.push_back(at.value_or(WallTime::max()));
    held.next_index.push_back(n);
  }
  return held;
}

bool ConditionTracker::Start(const PushNotification& firing, WallTime now) {
  const ConditionKey key = KeyOf(firing);
  if (held_.contains(key)) return false;
  held_.emplace(key, MakeHeld(firing, now + kAlertmanagerRepost, now));
  return true;
}

std::optional<PushNotification> ConditionTracker::Clear(const ConditionKey& key) {
  const auto held = held_.find(key);
  if (held == held_.end()) return std::nullopt;
  PushNotification firing = std::move(held->second.firing);
  held_.erase(held);
  return firing;
}

bool ConditionTracker::AnyReposts() const {
  return std::any_of(channels_.begin(), channels_.end(),
                     [](const ChannelSchedule& channel) { return channel.reposts; });
}

std::vector<ConditionTracker::Due> ConditionTracker::TakeDue(WallTime now) {
  std::vector<Due> due;
  const bool reposts = AnyReposts();
  for (auto& [key, held] : held_) {
    if (reposts && held.next_repost <= now) {
      for (std::size_t c = 0; c < channels_.size(); ++c) {
        if (channels_[c].reposts) due.push_back({c, held.firing});
      }
      held.next_repost = now + kAlertmanagerRepost;
    }
    for (std::size_t c = 0; c < channels_.size(); ++c) {
      if (held.next_reminder[c] > now) continue;
      // One reminder however many fell due while the program was not looking.
      due.push_back({c, ReminderNotification(held.firing, now)});
      unsigned& n = held.next_index[c];
      std::optional<WallTime> at;
      do {
        at = ReminderTime(channels_[c].remind, held.firing.starts_at, ++n);
      } while (at && *at <= now);
      held.next_reminder[c] = at.value_or(WallTime::max());
    }
  }
  return due;
}

std::optional<WallTime> ConditionTracker::NextDue() const {
  std::optional<WallTime> next;
  const bool reposts = AnyReposts();
  const auto consider = [&next](WallTime at) {
    if (at != WallTime::max() && (!next || at < *next)) next = at;
  };
  for (const auto& [key, held] : held_) {
    if (reposts) consider(held.next_repost);
    for (const WallTime at : held.next_reminder)
      consider(at);
  }
  return next;
}

std::vector<PushNotification> ConditionTracker::Holding() const {
  std::vector<PushNotification> holding;
  for (const auto& [key, held] : held_)
    holding.push_back(held.firing);
  return holding;
}

void ConditionTracker::Assume(const std::vector<PushNotification>& holding, WallTime now) {
  for (const PushNotification& firing : holding)
    held_.insert_or_assign(KeyOf(firing), MakeHeld(firing, now, now));
}

}  // namespace raid
