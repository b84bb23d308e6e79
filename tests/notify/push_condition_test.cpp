// SPDX-License-Identifier: GPL-2.0-or-later
// Conditions that hold: Alertmanager's re-posts each minute, reminders by each channel's policy,
// and the resolution when a condition clears, from the tracker's schedule to the channels.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "notify/push/alert_push.h"
#include "notify/push/condition_tracker.h"
#include "notify/push/notification_text.h"
#include "support/fake_http_client.h"

namespace raid {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using testing::FakeHttpClient;
using ::testing::HasSubstr;

const WallTime kStart = std::chrono::sys_days(std::chrono::year(2024) / 5 / 1);

PushNotification Firing(std::string event, unsigned enclosure, std::optional<unsigned> drive = {}) {
  PushNotification n;
  n.event = std::move(event);
  n.subject = "[RAID Message] " + n.event;
  n.body_lines = {"what the mail says"};
  n.enclosure = enclosure;
  n.drive = drive;
  n.starts_at = kStart;
  return n;
}

// The channels each due item went to, and whether each was a reminder.
std::vector<std::pair<std::size_t, bool>> Taken(ConditionTracker& tracker, WallTime now) {
  std::vector<std::pair<std::size_t, bool>> taken;
  for (const ConditionTracker::Due& due : tracker.TakeDue(now))
    taken.emplace_back(due.channel, due.notification.reminder);
  return taken;
}

TEST(ConditionTrackerTest, AlertmanagerHearsAHoldingConditionEachMinuteAndOthersByTheirPolicy) {
  // 0 Alertmanager, 1 daily, 2 diminishing, 3 once.
  ConditionTracker tracker({{true, RemindPolicy::kOnce},
                            {false, RemindPolicy::kDaily},
                            {false, RemindPolicy::kDiminishing},
                            {false, RemindPolicy::kOnce}});
  ASSERT_TRUE(tracker.Start(Firing("disk-fail", 1, 2), kStart));
  EXPECT_FALSE(tracker.Start(Firing("disk-fail", 1, 2), kStart + 5s));  // told once
  EXPECT_EQ(tracker.NextDue(), kStart + 60s);
  EXPECT_TRUE(Taken(tracker, kStart + 59s).empty());
  EXPECT_THAT(Taken(tracker, kStart + 60s), ElementsAre(std::pair<std::size_t, bool>{0, false}));
  EXPECT_EQ(tracker.NextDue(), kStart + 120s);

  // Days later, each channel's reminders: daily at 1, 2, 3 days; diminishing at 1, 3, 7.
  std::vector<std::pair<int, std::size_t>> reminders;  // (hour, channel)
  for (int minute = 2; minute <= 8 * 24 * 60; ++minute) {
    for (const ConditionTracker::Due& due : tracker.TakeDue(kStart + minute * 1min)) {
      if (!due.notification.reminder) continue;
      reminders.emplace_back(minute / 60, due.channel);
      EXPECT_EQ(NotificationTitle(due.notification), "Reminder: [RAID Message] disk-fail");
      EXPECT_THAT(
          due.notification.body_lines,
          ElementsAre(HasSubstr("Unchanged since 2024-05-01T00:00:00Z"), "what the mail says"));
    }
  }
  EXPECT_THAT(reminders, ElementsAre(std::pair{24, 1U}, std::pair{24, 2U}, std::pair{48, 1U},
                                     std::pair{72, 1U}, std::pair{72, 2U}, std::pair{96, 1U},
                                     std::pair{120, 1U}, std::pair{144, 1U}, std::pair{168, 1U},
                                     std::pair{168, 2U}, std::pair{192, 1U}));

  // A program that slept through several reminders sends one, then keeps to the schedule.
  EXPECT_THAT(
      Taken(tracker, kStart + 24h * 20),
      ElementsAre(std::pair<std::size_t, bool>{0, false}, std::pair<std::size_t, bool>{1, true},
                  std::pair<std::size_t, bool>{2, true}));
  ASSERT_TRUE(tracker.Clear(KeyOf(Firing("disk-fail", 1, 2))).has_value());
  EXPECT_FALSE(tracker.Clear(KeyOf(Firing("disk-fail", 1, 2))).has_value());
  EXPECT_EQ(tracker.NextDue(), std::nullopt);
}

TEST(ConditionTrackerTest, ChannelsReadAgainTakeOverWhatHoldsOnTheirOwnSchedule) {
  ConditionTracker old({{false, RemindPolicy::kDaily}});
  old.Start(Firing("no-response", 2), kStart);
  PushNotification hot = Firing("over-heat", 1);
  hot.starts_at = kStart + 30h;
  old.Start(hot, hot.starts_at);
  ConditionTracker fresh({{true, RemindPolicy::kOnce}, {false, RemindPolicy::kDaily}});
  fresh.Assume(old.Holding(), kStart + 36h);
  // The new Alertmanager hears both at once; the reminders keep the days from each start.
  EXPECT_EQ(Taken(fresh, kStart + 36h).size(), 2U);
  EXPECT_EQ(fresh.NextDue(), kStart + 36h + 60s);
  // Both re-posts, and the silent enclosure's second day; the heat's first day is still ahead.
  std::vector<std::string> reminded;
  for (const ConditionTracker::Due& due : fresh.TakeDue(kStart + 48h))
    reminded.push_back(due.notification.event + (due.notification.reminder ? " reminder" : ""));
  EXPECT_THAT(reminded, ElementsAre("no-response", "no-response reminder", "over-heat"));
  EXPECT_EQ(fresh.NextDue(), kStart + 48h + 60s);
  EXPECT_THAT(Taken(fresh, kStart + 54h), ElementsAre(std::pair<std::size_t, bool>{0, false},
                                                      std::pair<std::size_t, bool>{0, false},
                                                      std::pair<std::size_t, bool>{1, true}));
}

TEST(ConditionTrackerTest, ResolvedNotificationsSayWhatIsWellAndSinceWhenItWasNot) {
  const auto resolved = [](PushNotification firing) {
    const PushNotification n = ResolvedNotification(firing, kStart + 90s);
    EXPECT_TRUE(n.resolved);
    EXPECT_EQ(n.ends_at, kStart + 90s);
    EXPECT_EQ(n.starts_at, kStart);
    EXPECT_EQ(NotificationTitle(n), "Resolved: " + firing.subject);
    EXPECT_EQ(n.body_lines.at(1), "It began 2024-05-01T00:00:00Z.");
    return n.body_lines.at(0);
  };
  EXPECT_EQ(resolved(Firing("disk-fail", 1, 2)), "Device1 HDD2 is present again");
  EXPECT_EQ(resolved(Firing("device-removed", 3)), "Device3 is found again");
  EXPECT_EQ(resolved(Firing("over-heat", 1)), "Device1 temperature is normal again");
  EXPECT_EQ(resolved(Firing("fan-fail", 1)), "Device1 fan is normal again");
  EXPECT_EQ(resolved(Firing("no-response", 2)), "Device2 answers again");
}

// The owner as the window and raidctl use it: each condition told once, resolved once, and the
// other drive's or another kind's clearing resolves nothing.
TEST(AlertPushTest, EachConditionIsToldOnceAndResolvedWhenItClears) {
  std::vector<FakeHttpClient*> clients;
  ChannelConfig channel{"phone",
                        ChannelType::kNtfy,
                        "https://push.example/raid",
                        "",
                        {"disk-fail", "no-response", "over-heat"},
                        RemindPolicy::kOnce,
                        "",
                        ""};
  AlertPush push({channel},
                 [&clients] {
                   auto client = std::make_unique<FakeHttpClient>();
                   clients.push_back(client.get());
                   return client;
                 },
                 "host", {});
  const AlertText pulled{AlertKind::kHardDisksFail, 0, 1, "Disk fail", {"HDD2 removed"}};
  push.Alert(pulled);
  push.Alert(pulled);
  push.Cleared(AlertKind::kHardDisksFail, 0, 0);  // HDD1 was never missing
  push.Cleared(AlertKind::kOverHeat, 0, 0);
  push.Answer(1, true);  // it never stopped answering
  push.Answer(1, false);
  push.Cleared(AlertKind::kHardDisksFail, 0, 1);
  push.Cleared(AlertKind::kHardDisksFail, 0, 1);
  push.Answer(1, true);
  ASSERT_EQ(push.FinishStop(), 0U);
  std::vector<std::string> titles;
  for (const FakeHttpClient::Call& call : clients.at(0)->Calls()) {
    for (const auto& [name, value] : call.request.headers)
      if (name == "Title") titles.push_back(value);
  }
  EXPECT_THAT(titles, ElementsAre("Disk fail", HasSubstr("Device1 does not answer"),
                                  "Resolved: Disk fail", HasSubstr("Resolved: ")));
  EXPECT_THAT(titles.back(), HasSubstr("Device1 does not answer"));
}

}  // namespace
}  // namespace raid
