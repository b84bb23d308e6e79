// SPDX-License-Identifier: GPL-2.0-or-later
// The channels' workers and their owner: retries on the clock, what is told when the queue is
// full, which outcomes are claimed, and a stop that ends in time even when no server answers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/clock.h"
#include "notify/push/channel_worker.h"
#include "notify/push/push_notifier.h"
#include "support/fake_http_client.h"

namespace raid {
namespace {

using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::ElementsAre;
using testing::FakeHttpClient;
using ::testing::Field;
using ::testing::Pair;
using R = FakeHttpClient;

ChannelConfig Channel(std::string name, ChannelType type = ChannelType::kNtfy) {
  return {std::move(name),
          type,
          "https://push.example/raid",
          "tk",
          {"disk-fail", "device-removed", "over-heat"},
          RemindPolicy::kOnce,
          "!r:example.org",
          {}};
}

PushNotification Alert(std::string event, std::string subject,
                       std::vector<std::string> lines = {}) {
  PushNotification n;
  n.event = std::move(event);
  n.subject = std::move(subject);
  n.body_lines = std::move(lines);
  return n;
}

// Clients for a notifier, each kept for the test to look at; the first one held when asked.
HttpClientFactory Clients(std::vector<FakeHttpClient*>& clients, bool hold_first = false) {
  return [&clients, hold_first] {
    auto client = std::make_unique<FakeHttpClient>();
    if (hold_first && clients.empty()) client->Hold();
    clients.push_back(client.get());
    return client;
  };
}

class PushWorkerTest : public ::testing::Test {
 protected:
  // A worker on the virtual clock whose client is fake_; what its handler hears is kept.
  std::unique_ptr<ChannelWorker> Worker(const ChannelConfig& channel) {
    auto client = std::make_unique<FakeHttpClient>(&clock_);
    fake_ = client.get();
    return std::make_unique<ChannelWorker>(
        channel, std::move(client), clock_,
        [this](const std::string&, const PushNotification&, const DeliveryOutcome& outcome) {
          const std::lock_guard lock(mutex_);
          heard_.push_back(outcome);
          changed_.notify_all();
        });
  }
  // The outcomes heard once `count` have come, or 20 s have passed.
  std::vector<DeliveryOutcome> Heard(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 20s, [&] { return heard_.size() >= count; });
    return heard_;
  }

  VirtualClock clock_{std::chrono::sys_days(std::chrono::year(2024) / 5 / 1)};
  FakeHttpClient* fake_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<DeliveryOutcome> heard_;
};

TEST_F(PushWorkerTest, RetriesWaitAsToldOnTheClockWithOneTransactionId) {
  const auto worker = Worker(Channel("room", ChannelType::kMatrix));
  fake_->Script({R::NoAnswer(), R::Answer(503), R::Answer(429, "", "30"),
                 R::Answer(200, R"({"event_id":"$ev"})")});
  worker->Enqueue(Alert("disk-fail", "HDD1 fail"));
  EXPECT_THAT(Heard(1), ElementsAre(DeliveryOutcome{DeliveryKind::kDelivered, "$ev", ""}));
  const auto calls = fake_->Calls();
  // 5 s, 10 s, then the 30 s the server asked for rather than 20 s.
  EXPECT_THAT(calls, ElementsAre(Field(&FakeHttpClient::Call::at_ms, 0),
                                 Field(&FakeHttpClient::Call::at_ms, 5000),
                                 Field(&FakeHttpClient::Call::at_ms, 15000),
                                 Field(&FakeHttpClient::Call::at_ms, 45000)));
  for (const auto& call : calls)
    EXPECT_EQ(call.request.url, calls[0].request.url);  // the same transaction every time
  EXPECT_EQ(worker->Counters().delivered, 1U);
  EXPECT_EQ(worker->Counters().last_delivery, clock_.WallNow());
}

TEST_F(PushWorkerTest, UnansweredIsUnknownAndARefusalOrTheEndOfTheBudgetIsAFailure) {
  const auto worker = Worker(Channel("phone"));
  fake_->Script({R::NoAnswer(), R::Answer(403, "forbidden"), R::NotSent("Could not connect")});
  for (const char* subject : {"one", "two", "three"})
    worker->Enqueue(Alert("disk-fail", subject));
  EXPECT_THAT(
      Heard(3),
      ElementsAre(Field(&DeliveryOutcome::kind, DeliveryKind::kUnknown),
                  DeliveryOutcome{DeliveryKind::kFailed, "", "HTTP 403: forbidden"},
                  DeliveryOutcome{DeliveryKind::kFailed, "", "not sent: Could not connect"}));
  // One attempt each for the first two; the third tried until the ten minutes are spent.
  const auto calls = fake_->Calls();
  ASSERT_EQ(calls.size(), 11U);
  EXPECT_EQ(calls.back().at_ms - calls[2].at_ms, 515000U);
  EXPECT_EQ(worker->Counters().unknown, 1U);
  EXPECT_EQ(worker->Counters().failed, 2U);
}

TEST_F(PushWorkerTest, FullQueueMergesWhatWaitsAndKeepsEveryGraveText) {
  const auto worker = Worker(Channel("phone"));
  fake_->Hold();
  worker->Enqueue(Alert("over-heat", "Over heat"));
  ASSERT_TRUE(fake_->WaitForCalls(1));
  for (int i = 0; i < 150; ++i) {
    if (i == 10) {
      worker->Enqueue(Alert("disk-fail", "Disk fail", {"Device1 HDD1 fail", "serial A1"}));
    } else if (i == 70) {
      worker->Enqueue(Alert("device-removed", "Device removed", {"Device2 removed"}));
    } else {
      worker->Enqueue(Alert("over-heat", "Over heat " + std::to_string(i % 2)));
    }
  }
  EXPECT_EQ(worker->Counters().queued, 150U);
  fake_->Hold(false);
  // The held one, the 101 merged into one, the 49 that came after.
  EXPECT_EQ(Heard(51).size(), 51U);
  const HttpRequest merged = fake_->Calls()[1].request;
  EXPECT_EQ(merged.body,
            "Device1 HDD1 fail\nserial A1\nDevice removed\nDevice2 removed\nOther alerts:\n"
            "Over heat 0 (49 times)\nOver heat 1 (50 times)\n(stands for 101 alerts)");
  EXPECT_THAT(merged.headers, Contains(Pair("Title", "Disk fail")));
  EXPECT_THAT(merged.headers, Contains(Pair("Priority", "high")));
  EXPECT_EQ(fake_->Calls().size(), 51U);
}

TEST(PushNotifierTest, StopEndsWithinTheGraceWhileAServerNeverAnswers) {
  VirtualClock clock;
  std::vector<FakeHttpClient*> clients;
  PushNotifier notifier({Channel("silent"), Channel("quick")}, Clients(clients, true), clock);
  for (int i = 0; i < 5; ++i)
    notifier.Notify(Alert("over-heat", "Over heat"));
  ASSERT_TRUE(clients[0]->WaitForCalls(1));
  const auto start = std::chrono::steady_clock::now();
  // What was due on the quick channel still goes out.
  EXPECT_EQ(notifier.Stop(300ms, 1500ms), 5U);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
  notifier.Notify(Alert("over-heat", "too late"));
  const std::vector<ChannelStats> stats = notifier.Stats();
  EXPECT_EQ(stats[0].counters.unknown, 1U);  // the one under way: sent, never answered
  EXPECT_EQ(stats[0].counters.not_delivered_at_stop, 6U);
  EXPECT_EQ(stats[1].counters.delivered, 5U);
  EXPECT_EQ(stats[1].counters.not_delivered_at_stop, 1U);
}

TEST(PushNotifierTest, NotificationsGoToTheChannelsOfTheirEventAndTheTestToOneOrAll) {
  VirtualClock clock;
  std::vector<FakeHttpClient*> clients;
  ChannelConfig back = Channel("back", ChannelType::kGotify);
  back.events = {"responding"};
  PushNotifier notifier({Channel("phone"), back}, Clients(clients), clock);
  notifier.Notify(Alert("responding", "Device1 answers again"));
  notifier.Notify(Alert("disk-fail", "Disk fail"));
  ASSERT_TRUE(clients[0]->WaitForCalls(1));
  ASSERT_TRUE(clients[1]->WaitForCalls(1));
  EXPECT_EQ(clients[0]->Calls()[0].request.body, "Disk fail");
  EXPECT_THAT(clients[1]->Calls()[0].request.body, ::testing::HasSubstr("Device1 answers again"));

  std::vector<ChannelOutcome> outcomes;
  std::string error;
  ASSERT_TRUE(notifier.SendTestNow("back", Alert("test", "Test"), outcomes, error));
  EXPECT_THAT(outcomes, ElementsAre(ChannelOutcome{"back", {DeliveryKind::kDelivered, "", ""}}));
  ASSERT_TRUE(notifier.SendTestNow("", Alert("test", "Test"), outcomes, error));
  EXPECT_THAT(outcomes, ElementsAre(Field(&ChannelOutcome::channel, "phone"),
                                    Field(&ChannelOutcome::channel, "back")));
  EXPECT_FALSE(notifier.SendTestNow("pager", Alert("test", "Test"), outcomes, error));
  EXPECT_EQ(error, "no channel is named \"pager\" in notify.toml");
  EXPECT_EQ(clients.size(), 5U);  // a client of its own for each test
  notifier.Stop();
  EXPECT_EQ(notifier.Stats()[0].counters.delivered + notifier.Stats()[1].counters.delivered, 2U);
}

}  // namespace
}  // namespace raid
