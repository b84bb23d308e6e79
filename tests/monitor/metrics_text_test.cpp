// SPDX-License-Identifier: GPL-2.0-or-later
// The metrics file's text: what a Prometheus reader (the node exporter's textfile collector) gets
// from a snapshot. One bad label spoils the whole file for it, so texts from the hardware are
// the first thing checked.
#include "monitor/metrics_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "health/smart_verdict.h"
#include "status/controller_status.h"
#include "support/text_lines.h"

namespace raid {
namespace {

using raid::testing::SplitLines;
using ::testing::Contains;
using ::testing::IsEmpty;
using ::testing::Not;

std::vector<std::string> LinesOf(const std::string& text, const std::string& name) {
  std::vector<std::string> found;
  for (const std::string& line : SplitLines(text)) {
    if (line.rfind(name + "{", 0) == 0 || line.rfind(name + " ", 0) == 0) found.push_back(line);
  }
  return found;
}

// A healthy mirror at Device1 with both drives and sensors.
MetricsEnclosure Healthy() {
  MetricsEnclosure enclosure;
  enclosure.physical_drive = 1;
  enclosure.model = "TORVANE TR6182 Dual SATA RAID";
  enclosure.firmware = "160520.3";
  enclosure.answered = true;
  enclosure.last_answered_at =
      std::chrono::system_clock::time_point(std::chrono::seconds(1700000000));
  enclosure.mode = kModeMirroring;
  enclosure.capacity_sectors = 1953525168;
  enclosure.fan_rpm = 2350;
  enclosure.temperature_celsius = 41;
  for (MetricsDrive& drive : enclosure.drives) {
    drive.state = kDrivePresent;
    drive.capacity_sectors = 1953525168;
    drive.model = "NORTHWIND NW1000SA-01";
    drive.serial = "NW1A00000001";
  }
  return enclosure;
}

TEST(MetricsText, HostileModelTextsAreEscapedAndKeepEverySampleOnOneLine) {
  MetricsSnapshot snapshot;
  snapshot.enclosures_found = 1;
  MetricsEnclosure enclosure = Healthy();
  enclosure.model = "Box \"X\" \\ 2\nRAID} 0,a=\"b";
  enclosure.drives[0].model = "Caf\xC3\xA9 \xFF\r\x01";
  enclosure.drives[1].state = kDriveAbsent;
  snapshot.enclosures.push_back(enclosure);
  const std::string text = BuildMetricsText(snapshot);

  EXPECT_THAT(SplitLines(text),
              Contains(R"(raidgui_enclosure_info{enclosure="1",physical_drive="1",)"
                       R"(model="Box \"X\" \\ 2\nRAID} 0,a=\"b",firmware="160520.3"} 1)"));
  // A byte that is no UTF-8 and the control characters become U+FFFD; é stays.
  EXPECT_THAT(SplitLines(text),
              Contains("raidgui_drive_info{enclosure=\"1\",port=\"1\",model=\"Caf\xC3\xA9"
                       " \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\",serial=\"NW1A00000001\"} 1"));

  // Every line is a comment or one whole sample.
  const std::regex sample(
      R"([a-z_]+(\{[a-z_]+="([^"\\\n]|\\[\\"n])*"(,[a-z_]+="([^"\\\n]|\\[\\"n])*")*\})? )"
      R"(-?[0-9.]+)");
  for (const std::string& line : SplitLines(text)) {
    if (line.rfind("# HELP ", 0) == 0 || line.rfind("# TYPE ", 0) == 0) continue;
    EXPECT_TRUE(std::regex_match(line, sample)) << line;
  }
}

TEST(MetricsText, LabelValuesLoseEveryByteThatIsNotUtf8) {
  const std::string kFffd = "\xEF\xBF\xBD";
  struct Case {
    const char* what;
    std::string in;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"two- to four-byte forms", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
       "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"overlong slash", "\xC0\xAF", kFffd + kFffd},
      {"overlong three-byte form", "\xE0\x80\xAF", kFffd + kFffd + kFffd},
      {"surrogate half", "\xED\xA0\x80", kFffd + kFffd + kFffd},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},
      {"cut short at the end", "A\xE2\x82", "A" + kFffd + kFffd},
      {"lone continuation byte", "\x80z", kFffd + "z"},
      {"tab and delete", "a\tb\x7F", "a" + kFffd + "b" + kFffd},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeLabelValue(c.in), c.out) << c.what;
  }
}

TEST(MetricsText, CountersStartAtTheirTotalsAndStatesHaveOneSeriesSet) {
  MetricsSnapshot snapshot;
  snapshot.enclosures_found = 3;
  snapshot.alert_mails_sent = 4;
  snapshot.alert_mails_failed = 1;
  MetricsEnclosure first = Healthy();
  first.failed_polls = 7;
  first.mode = 9;  // no mode the program names
  MetricsEnclosure second = Healthy();
  second.position = 1;
  second.physical_drive = 2;
  second.operation = ArrayOperation::kRebuild;
  second.operation_drive = 1;
  second.progress_percent = 37;
  second.fan_rpm.reset();
  second.temperature_celsius.reset();
  second.drives[1].state = kDriveInserted;
  snapshot.enclosures = {first, second};
  const std::string text = BuildMetricsText(snapshot);
  const std::vector<std::string> lines = SplitLines(text);

  EXPECT_THAT(lines, Contains("# TYPE raidgui_alert_mails_sent_total counter"));
  EXPECT_THAT(lines, Contains("raidgui_alert_mails_sent_total 4"));
  EXPECT_THAT(lines, Contains("raidgui_alert_mails_failed_total 1"));
  EXPECT_THAT(lines, Contains("# TYPE raidgui_enclosure_poll_failures_total counter"));
  EXPECT_THAT(lines, Contains(R"(raidgui_enclosure_poll_failures_total{enclosure="1"} 7)"));
  EXPECT_THAT(lines, Contains(R"(raidgui_enclosure_poll_failures_total{enclosure="2"} 0)"));
  EXPECT_THAT(lines, Contains("raidgui_enclosures 3"));
  EXPECT_THAT(lines, Contains(R"(raidgui_enclosure_last_poll_success_timestamp_seconds)"
                              R"({enclosure="1"} 1700000000.000)"));
  EXPECT_THAT(lines, Contains(R"(raidgui_array_capacity_bytes{enclosure="1"} 1000204886016)"));

  // Each enum: one series per state, exactly one of them 1.
  const auto set_lines = [&](const std::string& name) {
    std::vector<std::string> set;
    for (const std::string& line : LinesOf(text, name)) {
      if (line.back() == '1') set.push_back(line);
    }
    return set;
  };
  EXPECT_EQ(LinesOf(text, "raidgui_array_mode").size(), 12U);
  EXPECT_THAT(set_lines("raidgui_array_mode"),
              ::testing::ElementsAre(R"(raidgui_array_mode{enclosure="1",mode="undefined"} 1)",
                                     R"(raidgui_array_mode{enclosure="2",mode="mirroring"} 1)"));
  EXPECT_EQ(LinesOf(text, "raidgui_drive_state").size(), 20U);
  EXPECT_THAT(set_lines("raidgui_drive_state"),
              Contains(R"(raidgui_drive_state{enclosure="2",port="2",state="inserted"} 1)"));
  EXPECT_EQ(set_lines("raidgui_drive_state").size(), 4U);
  EXPECT_THAT(
      set_lines("raidgui_array_operation"),
      ::testing::ElementsAre(R"(raidgui_array_operation{enclosure="1",operation="none"} 1)",
                             R"(raidgui_array_operation{enclosure="2",operation="rebuild"} 1)"));
  EXPECT_THAT(lines, Contains(R"(raidgui_drive_present{enclosure="2",port="2"} 0)"));

  // Progress only while something runs; sensors only where reported.
  EXPECT_THAT(LinesOf(text, "raidgui_array_operation_progress_ratio"),
              ::testing::ElementsAre(R"(raidgui_array_operation_progress_ratio)"
                                     R"({enclosure="2",port="2",operation="rebuild"} 0.37)"));
  EXPECT_THAT(LinesOf(text, "raidgui_enclosure_fan_speed_rpm"),
              ::testing::ElementsAre(R"(raidgui_enclosure_fan_speed_rpm{enclosure="1"} 2350)"));
  EXPECT_THAT(LinesOf(text, "raidgui_enclosure_temperature_celsius"),
              ::testing::ElementsAre(R"(raidgui_enclosure_temperature_celsius{enclosure="1"} 41)"));
}

TEST(MetricsText, AnEnclosureThatDidNotAnswerKeepsOnlyWhatItsPollsSay) {
  MetricsSnapshot snapshot;
  snapshot.enclosures_found = 1;
  MetricsEnclosure enclosure = Healthy();
  enclosure.answered = false;
  enclosure.monitored = false;
  enclosure.failed_polls = 11;
  MetricsSmart smart;
  smart.read_at = std::chrono::system_clock::time_point(std::chrono::milliseconds(1700000000250));
  smart.attributes = {{0xC5, "Current pending sector count", 2}};
  smart.verdict = 2;  // a pending sector weighs two minor findings
  enclosure.smart[1] = smart;
  snapshot.enclosures.push_back(enclosure);
  const std::string text = BuildMetricsText(snapshot);
  const std::vector<std::string> lines = SplitLines(text);

  EXPECT_THAT(lines, Contains(R"(raidgui_enclosure_up{enclosure="1"} 0)"));
  EXPECT_THAT(lines, Contains(R"(raidgui_enclosure_monitored{enclosure="1"} 0)"));
  for (const char* gone : {"raidgui_array_mode", "raidgui_array_capacity_bytes",
                           "raidgui_drive_state", "raidgui_enclosure_fan_speed_rpm"}) {
    EXPECT_THAT(LinesOf(text, gone), IsEmpty()) << gone;
    EXPECT_THAT(text, Not(::testing::HasSubstr(std::string("# TYPE ") + gone + " ")));
  }
  // SMART values are the last good read's, whatever the poll says.
  EXPECT_THAT(lines,
              Contains(R"(raidgui_smart_verdict{enclosure="1",port="2",verdict="warning"} 1)"));
  EXPECT_THAT(lines, Contains(R"(raidgui_smart_attribute_raw{enclosure="1",port="2",id="197",)"
                              R"(name="Current pending sector count"} 2)"));
  EXPECT_THAT(lines, Contains(R"(raidgui_smart_last_read_timestamp_seconds)"
                              R"({enclosure="1",port="2"} 1700000000.250)"));
  EXPECT_EQ(LinesOf(text, "raidgui_smart_verdict").size(), 3U);
}

}  // namespace
}  // namespace raid
