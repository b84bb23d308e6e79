// SPDX-License-Identifier: GPL-2.0-or-later
// Which enclosure each page shows: the monitor boxes' choice, the guard on page and target
// switches, a list that shrinks under the pages, and the record the Status page may draw.
#include "monitor/page_selection.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "sim_host.h"
#include "support/quiet_schedule_view.h"
#include "support/recording_ui_sink.h"

namespace raid {
namespace {

// The enclosures at drives 2 and 3, listed by hand; nothing is ever read from the host.
class PageSelectionTest : public ::testing::Test {
 protected:
  void List(std::initializer_list<unsigned> drives) {
    std::vector<EnclosureInfo>& current = core_.device().registry().current;
    current.clear();
    for (unsigned drive : drives)
      current.push_back({drive | kEnclosureBit});
  }
  static PolledRecord ReadOf(unsigned drive, bool not_answering = false) {
    PolledRecord polled;
    polled.record.bytes[status_layout::kSlot] = static_cast<std::uint8_t>(drive);
    polled.record.bytes[status_layout::kValidMarker] = status_layout::kValid;
    polled.not_answering = not_answering;
    return polled;
  }
  SharedState& state() { return core_.state(); }

  VirtualClock clock_;
  sim::SimHost host_{sim::Scenario{}, clock_};
  testing::RecordingUiSink ui_;
  testing::QuietScheduleView view_;
  MonitorCore core_{host_, clock_, ui_, ui_, view_, std::filesystem::temp_directory_path()};
  PageSelection selection_{core_};
};

TEST_F(PageSelectionTest, AMonitorBoxShowsTheEnclosureThatAloneIsWatched) {
  List({2, 3});
  bool moved = false;
  // Device2 checked while Device1 is off: the Status page shows Device2.
  EXPECT_TRUE(selection_.MonitorBoxClicked(1, true, false, moved));
  EXPECT_TRUE(moved);
  EXPECT_EQ(selection_.status_device(), 1);
  EXPECT_EQ(state().target.selected_index.load(), 1);
  EXPECT_TRUE(state().polling.monitor_checked[1].load());
  // Device1 checked beside it: the page stays where it is.
  EXPECT_TRUE(selection_.MonitorBoxClicked(0, true, true, moved));
  EXPECT_FALSE(moved);
  EXPECT_EQ(selection_.status_device(), 1);
  // Device2 cleared while Device1 is on: the page goes to Device1.
  EXPECT_TRUE(selection_.MonitorBoxClicked(1, false, true, moved));
  EXPECT_TRUE(moved);
  EXPECT_EQ(selection_.status_device(), 0);
  EXPECT_FALSE(state().polling.monitor_checked[1].load());
  // The last box cleared: nothing further, the page keeps its enclosure.
  EXPECT_FALSE(selection_.MonitorBoxClicked(0, false, false, moved));
  EXPECT_FALSE(moved);
  EXPECT_EQ(selection_.status_device(), 0);
  EXPECT_FALSE(state().polling.monitor_checked[0].load());
}

TEST_F(PageSelectionTest, PagesAndTargetsStayPutWhileDetectionOrAnUpgradeHoldsThem) {
  state().detection.initial.store(true);
  EXPECT_FALSE(selection_.PageSwitchAllowed());
  EXPECT_TRUE(selection_.TargetSwitchAllowed());
  state().detection.initial.store(false);
  EXPECT_TRUE(selection_.PageSwitchAllowed());
  state().upgrade.target_index.store(0);
  EXPECT_FALSE(selection_.PageSwitchAllowed());
  EXPECT_FALSE(selection_.TargetSwitchAllowed());
}

TEST_F(PageSelectionTest, EachPageSelectsItsOwnEnclosureAndFollowsAShorterList) {
  List({2, 3});
  selection_.ShowStatusDevice(1);
  selection_.ShowUpgradeDevice(0);
  selection_.ShowPage(kUpgradePage);
  EXPECT_EQ(state().target.selected_index.load(), 0);
  EXPECT_EQ(selection_.SelectForCaptions(), 0);
  selection_.ShowPage(kStatusPage);
  EXPECT_EQ(state().target.selected_index.load(), 1);
  EXPECT_EQ(selection_.SelectForCaptions(), 1);

  List({3});
  const PageSelection::Moved moved = selection_.FollowListSize();
  EXPECT_TRUE(moved.status);
  EXPECT_FALSE(moved.upgrade);
  EXPECT_EQ(selection_.status_device(), 0);
  // An empty list moves nothing: there is no last enclosure to show.
  selection_.ShowUpgradeDevice(1);
  List({});
  EXPECT_FALSE(selection_.FollowListSize().upgrade);
  EXPECT_EQ(selection_.upgrade_device(), 1);
}

TEST_F(PageSelectionTest, TheStatusPageDrawsOnlyTheShownEnclosuresOwnRecord) {
  DeviceCaptions captions;
  captions.firmware_version_text = "v1";
  // No enclosure: the page blanks, with the captions it has.
  EXPECT_FALSE(selection_.StatusInput(captions).enclosure_known);

  List({2, 3});
  selection_.ShowStatusDevice(1);
  // Until a poll has read drive 3, the page shows no values, never drive 2's record in the
  // position the list now gives drive 3.
  selection_.SetPolledRecords({ReadOf(2), PolledRecord{}});
  EXPECT_EQ(selection_.ShownRecord(), nullptr);
  EXPECT_FALSE(selection_.StatusInput(captions).enclosure_known);

  // Found by its drive, wherever the last poll had it, with the poller's verdict.
  selection_.SetPolledRecords({ReadOf(3, true), ReadOf(2)});
  const StatusPageInput input = selection_.StatusInput(captions);
  EXPECT_TRUE(input.enclosure_known);
  EXPECT_TRUE(input.record.IsFilledFor(3));
  EXPECT_TRUE(input.no_response);
  EXPECT_EQ(input.status_device, 1U);
  EXPECT_EQ(input.firmware_version_text, "v1");
}

TEST_F(PageSelectionTest, AFirmwareFileIsCheckedAgainstTheUpgradePagesEnclosure) {
  List({2});
  core_.device().registry().current[0].controller_kind = ControllerKind::kRaidBridge;
  EXPECT_EQ(selection_.FirmwareTarget().kind, ControllerKind::kRaidBridge);
  // A position the list no longer has: only the file's own checks.
  selection_.ShowUpgradeDevice(1);
  EXPECT_EQ(selection_.FirmwareTarget().kind, ControllerKind::kPortMultiplier);
}

}  // namespace
}  // namespace raid
