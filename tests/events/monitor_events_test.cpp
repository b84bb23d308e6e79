// SPDX-License-Identifier: GPL-2.0-or-later
// The events a monitor reports, built from a detector call's new lines and alerts.
#include "events/monitor_events.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace raid {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kSeparator =
    "-----------------------------------------------------------------------------------";
const std::chrono::system_clock::time_point kWhen{std::chrono::seconds(1709251199)};

MonitorEvent Event(MonitorEventKind kind, unsigned enclosure, std::optional<unsigned> port,
                   std::string line) {
  return {kind, enclosure, port, std::move(line), kWhen};
}

TEST(MonitorEventsTest, ARemovalIsOneEventWithItsLine) {
  const std::vector<std::string> lines = {kSeparator, "D2 Device was removed.02/29/24 23:59:59",
                                          "    Device had changed.", kSeparator};
  const std::vector<AlertRequest> alerts = {{AlertKind::kDeviceRemoved, 1, 0}};
  EXPECT_THAT(BuildMonitorEvents(lines, alerts, kWhen),
              ElementsAre(Event(MonitorEventKind::kDeviceRemoved, 2, std::nullopt,
                                "D2 Device was removed.02/29/24 23:59:59")));
  // Its alert alone (the line not among these) is still the one event.
  EXPECT_THAT(BuildMonitorEvents({}, alerts, kWhen),
              ElementsAre(Event(MonitorEventKind::kDeviceRemoved, 2, std::nullopt, "")));
}

// The alert numbers the drive from 0; the event says HDD1 / HDD2 as 1 / 2, with the line of the
// same enclosure and drive.
TEST(MonitorEventsTest, ADiskFailCarriesItsPortAndLine) {
  const std::vector<std::string> lines = {
      "D1 HDD2 was removed, 0302/29/24 23:59:59",
      "D2 HDD1 was removed, 0302/29/24 23:59:59",
      "D2 HDD2 was inserted, 0602/29/24 23:59:59",
  };
  const std::vector<AlertRequest> alerts = {{AlertKind::kHardDisksFail, 1, 0},
                                            {AlertKind::kHardDisksFail, 0, 1}};
  EXPECT_THAT(
      BuildMonitorEvents(lines, alerts, kWhen),
      ElementsAre(
          Event(MonitorEventKind::kDiskFail, 2, 1, "D2 HDD1 was removed, 0302/29/24 23:59:59"),
          Event(MonitorEventKind::kDiskFail, 1, 2, "D1 HDD2 was removed, 0302/29/24 23:59:59")));
}

// Found and removed enclosures come first, as their lines do; the sensor alarms have no line
// and name no drive.
TEST(MonitorEventsTest, FoundLinesGiveDeviceFoundBeforeTheAlertsOfTheCall) {
  const std::vector<std::string> lines = {kSeparator, "D1 New Device was found.02/29/24 23:59:59",
                                          "D3 New Device was found.02/29/24 23:59:59",
                                          "    Device had changed.", kSeparator};
  const std::vector<AlertRequest> alerts = {{AlertKind::kFanFail, 0, 0},
                                            {AlertKind::kOverHeat, 2, 0}};
  EXPECT_THAT(BuildMonitorEvents(lines, alerts, kWhen),
              ElementsAre(Event(MonitorEventKind::kDeviceFound, 1, std::nullopt,
                                "D1 New Device was found.02/29/24 23:59:59"),
                          Event(MonitorEventKind::kDeviceFound, 3, std::nullopt,
                                "D3 New Device was found.02/29/24 23:59:59"),
                          Event(MonitorEventKind::kFanFail, 1, std::nullopt, ""),
                          Event(MonitorEventKind::kOverHeat, 3, std::nullopt, "")));
}

TEST(MonitorEventsTest, LinesThatAreNotEventsGiveNone) {
  const std::vector<std::string> lines = {
      kSeparator,
      "RAID GUI v0.50.11-4 has started from 02/29/24 23:59:59",
      "Device1 information :",
      "D1 HDD2 was inserted, 0602/29/24 23:59:59",
      "D1 HDD2 was initialized, (SATA), 0002/29/24 23:59:59",
      "  Model no.: NORTHWIND NW1000SA-02",
      "D1 HDD1 --> HDD2 42%, 02/29/24 23:59:59",
      "D1 HDD1 Bad Sector was found. 02/29/24 23:59:59",
      "  LBA: 1234",
      "    Device had changed.",
  };
  EXPECT_THAT(BuildMonitorEvents(lines, {}, kWhen), IsEmpty());
}

TEST(MonitorEventsTest, TheTimeIsIso8601InUtcToTheSecond) {
  EXPECT_EQ(UtcTimeText(kWhen), "2024-02-29T23:59:59Z");
  EXPECT_EQ(UtcTimeText(kWhen + std::chrono::milliseconds(999)), "2024-02-29T23:59:59Z");
  EXPECT_EQ(UtcTimeText(std::chrono::system_clock::time_point{}), "1970-01-01T00:00:00Z");
}

}  // namespace
}  // namespace raid
