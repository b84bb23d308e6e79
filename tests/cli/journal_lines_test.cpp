// SPDX-License-Identifier: GPL-2.0-or-later
// The journal's priorities for raidctl's stderr lines: when stderr is the journal, and which
// priority each kind of line gets.
#include "cli/journal_lines.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "events/log_save_texts.h"

namespace {

using raid::cli::JournalStreamNames;
using raid::cli::LineJoiner;
using raid::cli::LinePriority;
using raid::cli::PrefixedLine;
using raid::cli::RaidctlLinePriority;
using ::testing::ElementsAre;

TEST(JournalStreamTest, OnlyTheDeviceAndInodeOfStderrMatch) {
  EXPECT_TRUE(JournalStreamNames("8:4711", 8, 4711));
  EXPECT_TRUE(JournalStreamNames("18446744073709551615:1", UINT64_MAX, 1));
  // Inherited from a service, but stderr was redirected since: another file.
  EXPECT_FALSE(JournalStreamNames("8:4712", 8, 4711));
  EXPECT_FALSE(JournalStreamNames("9:4711", 8, 4711));
  EXPECT_FALSE(JournalStreamNames("4711:8", 8, 4711));
  EXPECT_FALSE(JournalStreamNames(nullptr, 8, 4711));
  for (const char* malformed :
       {"", ":", "8", "8:", ":4711", "8:4711:", "8:4711x", " 8:4711", "8: 4711", "+8:4711",
        "-8:4711", "0x8:4711", "8;4711", "18446744073709551624:4711"}) {
    EXPECT_FALSE(JournalStreamNames(malformed, 8, 4711)) << malformed;
  }
}

TEST(JournalPriorityTest, ProblemsOfRaidctlAreErrorsWhatItReportsAreWarnings) {
  for (const std::string& error :
       {std::string("raidctl: cannot keep the daily log: /var/log/raidgui/261209.log is a FIFO"),
        std::string("raidctl: cannot write the metrics: the folder /x does not exist"),
        "raidctl: " + raid::LogSaveFailedText("No space left on device"),
        "raidctl: " + raid::UnsavedLinesText(1, {"261209.log"}, "/logs", "Read-only"),
        "raidctl: " + raid::UnsavedLinesText(12, {"261208.log", "261209.log"}, "/logs", "x"),
        std::string("raidctl: monitor stopped after an error; see above"),
        std::string("raidctl: protocol violation: interleaved exchanges")}) {
    EXPECT_EQ(RaidctlLinePriority(error), LinePriority::kError) << error;
  }
  for (const char* warning : {
           "raidctl: alert \"HardDisksFail\" for Device1 HDD2",
           "raidctl: alert mails are off: no mail settings in /etc/raidgui/settings.toml",
           "raidctl: alert mail: the server refused you@example.com",
           "raidctl: hook /usr/local/bin/raid-hook for Device1 disk-fail: exited with status 1",
           "raidctl: 2 alert mail(s) not sent: the monitor stopped",
           "raidctl: a mail could not be cut short; not waiting for it",
           "raidctl: standard output cannot be written (Broken pipe); events are no longer printed",
           "raidctl: no udev; looking for new drives every 5 seconds instead",
           "raidctl: Monitoring of Device2 stopped after repeated failures.",
           "raidctl: Device2 does not answer",
           "raidctl: physical drive 0 was skipped: permission denied",
       }) {
    EXPECT_EQ(RaidctlLinePriority(warning), LinePriority::kWarning) << warning;
  }
  for (const std::string& information : {
           std::string("raidctl: monitor started"),
           std::string("raidctl: monitor stopped"),
           std::string("raidctl: daily log in /var/log/raidgui"),
           std::string("raidctl: alert mails go to 2 recipient(s) through mail.example.com"),
           std::string("raidctl: metrics in /var/lib/prometheus/node-exporter/raidgui.prom"),
           "raidctl: " + std::string(raid::kLogSavedAgainText),
           std::string("raidctl: Device2 answers again; watching it again"),
           std::string("raidctl: no enclosure found; waiting for one"),
           // A log line that quotes a problem is still only information.
           std::string("2026/12/09 15:00:00 Device1 cannot write the metrics"),
       }) {
    EXPECT_EQ(RaidctlLinePriority(information), LinePriority::kInformation) << information;
  }
}

TEST(JournalPriorityTest, OursStandsFirstEvenBeforeALineWithAPriorityOfItsOwn) {
  EXPECT_EQ(PrefixedLine(LinePriority::kError, "raidctl: x"), "<3>raidctl: x");
  EXPECT_EQ(PrefixedLine(LinePriority::kWarning, ""), "<4>");
  EXPECT_EQ(PrefixedLine(LinePriority::kInformation, "<0>hook: emergency"),
            "<6><0>hook: emergency");
}

TEST(JournalPriorityTest, BytesInPiecesBecomeWholeLines) {
  std::vector<std::string> lines;
  const auto take = [&](std::string_view line) { lines.emplace_back(line); };
  LineJoiner joiner;
  joiner.Add("raidctl: al", take);
  joiner.Add("ert\n\nsec", take);
  joiner.Add("ond\nthird", take);
  EXPECT_THAT(lines, ElementsAre("raidctl: alert", "", "second"));
  joiner.Finish(take);
  joiner.Finish(take);
  EXPECT_THAT(lines, ElementsAre("raidctl: alert", "", "second", "third"));

  // Output without a line feed is handed on in pieces, not held without end.
  lines.clear();
  const std::string piece(LineJoiner::kLongestLine / 2 + 1, 'x');
  joiner.Add(piece, take);
  EXPECT_THAT(lines, ElementsAre());
  joiner.Add(piece + "\n", take);
  EXPECT_THAT(lines, ElementsAre(std::string(LineJoiner::kLongestLine, 'x'), "xx"));

  // A line of exactly the longest length is one line, in two writes or one.
  lines.clear();
  const std::string longest(LineJoiner::kLongestLine, 'y');
  joiner.Add(longest, take);
  joiner.Add("\n" + longest + "\n", take);
  EXPECT_THAT(lines, ElementsAre(longest, longest));
}

}  // namespace
