// SPDX-License-Identifier: GPL-2.0-or-later
// The log as the window reads it while the RAID worker publishes the detector's list.
#include "events/shared_event_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace raid {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(SharedEventLogTest, ReadersGetTheLinesFromWhereTheyStopped) {
  EventLog log;
  SharedEventLog shared;
  log.lines = {"a", "b"};
  shared.Publish(log);
  log.lines.push_back("c");
  shared.Publish(log);
  shared.Publish(log);  // nothing new: nothing doubled

  const EventLogSnapshot all = shared.Snapshot(0);
  EXPECT_THAT(all.lines, ElementsAre("a", "b", "c"));
  EXPECT_EQ(all.count, 3U);
  const EventLogSnapshot rest = shared.Snapshot(2);
  EXPECT_THAT(rest.lines, ElementsAre("c"));
  EXPECT_EQ(rest.generation, all.generation);
  const EventLogSnapshot part = shared.Snapshot(1, 1);
  EXPECT_THAT(part.lines, ElementsAre("b"));
  EXPECT_EQ(part.count, 3U);
  const EventLogSnapshot past_end = shared.Snapshot(7);
  EXPECT_THAT(past_end.lines, IsEmpty());
  EXPECT_EQ(past_end.count, 3U);
}

TEST(SharedEventLogTest, ReplacedListIsCopiedWholeWhateverItsLength) {
  EventLog log;
  SharedEventLog shared;
  log.lines = {"day 1 a", "day 1 b"};
  shared.Publish(log);
  const std::uint64_t first = shared.Snapshot(0).generation;

  // A new day with as many lines, then one with more: neither may keep a line of the day before.
  log.lines = {"day 2 a", "day 2 b"};
  ++log.generation;
  shared.Publish(log);
  const EventLogSnapshot same_length = shared.Snapshot(0);
  EXPECT_THAT(same_length.lines, ElementsAre("day 2 a", "day 2 b"));
  EXPECT_NE(same_length.generation, first);

  log.lines = {"day 3 a", "day 3 b", "day 3 c"};
  ++log.generation;
  shared.Publish(log);
  const EventLogSnapshot longer = shared.Snapshot(0);
  EXPECT_THAT(longer.lines, ElementsAre("day 3 a", "day 3 b", "day 3 c"));
  EXPECT_NE(longer.generation, same_length.generation);

  // A list that shrank without saying so is still no prefix of what readers hold.
  log.lines = {"x"};
  shared.Publish(log);
  const EventLogSnapshot shorter = shared.Snapshot(0);
  EXPECT_THAT(shorter.lines, ElementsAre("x"));
  EXPECT_NE(shorter.generation, longer.generation);
}

// The publisher appends numbered lines and starts a new day now and then; the reader follows as
// the viewer does and must always hold one day's lines, each once and in order.
TEST(SharedEventLogTest, ConcurrentReaderFollowsThePublisherExactly) {
  constexpr int kSteps = 4000;
  constexpr int kDayLength = 150;
  SharedEventLog shared;
  EventLog log;
  std::atomic<bool> done{false};
  // Taken before the publisher starts: a publisher that runs to its end before the reader's
  // first look still leaves a day change for the reader to follow.
  std::vector<std::string> shown;
  std::uint64_t generation = shared.Snapshot(0).generation;

  std::thread publisher([&] {
    int day = 0;
    for (int step = 0; step < kSteps; ++step) {
      if (log.lines.size() >= kDayLength) {
        ++day;
        log.lines.clear();
        ++log.generation;
      }
      log.lines.push_back(std::to_string(day) + ":" + std::to_string(log.lines.size()));
      shared.Publish(log);
    }
    done = true;
  });

  int mismatches = 0;
  int replacements = 0;
  const auto follow = [&] {
    EventLogSnapshot snapshot = shared.Snapshot(shown.size());
    if (snapshot.generation != generation) {
      snapshot = shared.Snapshot(0);
      shown.clear();
      generation = snapshot.generation;
      ++replacements;
    }
    shown.insert(shown.end(), snapshot.lines.begin(), snapshot.lines.end());
    if (shown.size() != snapshot.count) ++mismatches;
    const std::string day = shown.empty() ? "" : shown[0].substr(0, shown[0].find(':'));
    for (std::size_t i = 0; i < shown.size(); ++i) {
      if (shown[i] != day + ":" + std::to_string(i)) ++mismatches;
    }
  };
  while (!done)
    follow();
  publisher.join();
  follow();

  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(replacements, 0);
  EXPECT_EQ(shown, log.lines);
}

}  // namespace
}  // namespace raid
