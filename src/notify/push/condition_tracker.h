// SPDX-License-Identifier: GPL-2.0-or-later
// The conditions the push channels were told of and that still hold: a drive missing, an
// enclosure removed or silent, a temperature or fan alarm. While one holds, each Alertmanager
// channel hears it again every minute (Alertmanager resolves what is not re-sent), and the other
// channels are reminded as their `remind` asks; when it clears, every channel hears it resolved.
// The times come from the caller: the tracker keeps no clock and no thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "notify/push/push_types.h"

namespace raid {

using WallTime = std::chrono::system_clock::time_point;

// How often an Alertmanager channel hears a condition that holds; well inside Alertmanager's
// default resolve_timeout of five minutes.
inline constexpr std::chrono::seconds kAlertmanagerRepost{60};

// What names a condition: its event, DeviceN and HDDn (0 for the enclosure as a whole).
struct ConditionKey {
  std::string event;
  unsigned enclosure = 0;
  unsigned drive = 0;
  auto operator<=>(const ConditionKey&) const = default;
};
ConditionKey KeyOf(const PushNotification& notification);

// What a channel hears while a condition holds.
struct ChannelSchedule {
  bool reposts = false;  // Alertmanager: the firing alert again every kAlertmanagerRepost
  RemindPolicy remind = RemindPolicy::kOnce;
};
std::vector<ChannelSchedule> SchedulesOf(const std::vector<ChannelConfig>& channels);

// The n-th reminder (from 1) of a condition that began at `since`: each day, or after 1, 2, 4 ...
// days; none for kOnce.
std::optional<WallTime> ReminderTime(RemindPolicy remind, WallTime since, unsigned n);

class ConditionTracker {
 public:
  // One schedule per channel, in the notifier's order.
  explicit ConditionTracker(std::vector<ChannelSchedule> channels);

  // `firing` begins to hold (its starts_at says since when). False when it already held: the
  // channels were told, and are reminded as their schedule says.
  bool Start(const PushNotification& firing, WallTime now);
  // The condition `key` has cleared: the notification that told it, when one held.
  std::optional<PushNotification> Clear(const ConditionKey& key);

  struct Due {
    std::size_t channel = 0;  // index into the schedules
    PushNotification notification;
  };
  // What is due by `now`: re-posts of firing alerts and reminders, each scheduled again.
  std::vector<Due> TakeDue(WallTime now);
  // When the next thing falls due; none while nothing holds that a channel hears again.
  std::optional<WallTime> NextDue() const;

  // For channels read again: the conditions that hold, and taking them over from the old
  // tracker (the new channels' first re-post is due at once, reminders as if they had always
  // been there).
  std::vector<PushNotification> Holding() const;
  void Assume(const std::vector<PushNotification>& holding, WallTime now);

 private:
  struct Held {
    PushNotification firing;
    WallTime next_repost;
    std::vector<WallTime> next_reminder;  // per channel; max() for none
    std::vector<unsigned> next_index;     // per channel: which reminder next_reminder is
  };
  Held MakeHeld(const PushNotification& firing, WallTime repost_at, WallTime now) const;
  bool AnyReposts() const;

  std::vector<ChannelSchedule> channels_;
  std::map<ConditionKey, Held> held_;
};

}  // namespace raid
