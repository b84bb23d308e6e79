// SPDX-License-Identifier: GPL-2.0-or-later
// The SMART page as ShowSmart fills it, and what selecting a cell shows.
#include "health/smart_page_view.h"

#include <gtest/gtest.h>

#include "smart_sectors.h"

namespace raid {
namespace {

using testing::PutSlot;
using testing::RecordOf;
using testing::Slot;

TEST(SmartPageView, FillsOneRowPerSlotWithTheThresholdOfTheSameSlot) {
  SmartDriveRecord record = RecordOf({{0x01, 97, 51, 0, 200}, {0xC2, 98, 0, 41, 109}}, 0x6003);
  record.thresholds[2 + 12] = 0x77;  // the threshold slot's ID is not compared
  const SmartPageView view = BuildSmartPageView({1, "NORTHWIND NW1000SA-01", record});

  EXPECT_EQ(view.title, " SMART - HDD2 : NORTHWIND NW1000SA-01");
  EXPECT_TRUE(view.table_shown);
  ASSERT_EQ(view.rows.size(), 2U);
  const std::array<std::string, 6> first = {"01-Raw read error rate", "200", "97", "51",
                                            "000000000000",           "Good"};
  EXPECT_EQ(view.rows[0].cells, first);
  const std::array<std::string, 6> second = {"C2-Temperature", "109", "98", "0",
                                             "000000000029",   "Good"};
  EXPECT_EQ(view.rows[1].cells, second);
  EXPECT_EQ(view.overall_text, " Good ");
  EXPECT_EQ(view.four_k_text, " 4K Sector supported : Yes ");
  EXPECT_EQ(view.four_k_hint, "WORD[106]=0x6003");
}

TEST(SmartPageView, ShowsOnlyTheSlotsBeforeTheFirstEmptyOne) {
  SmartDriveRecord record = RecordOf({{0x01}, {0x05, 100, 36, 3}});
  PutSlot(record, 3, {0x07, 1, 50});  // an error after the gap: no row, no verdict
  PutSlot(record, 29, {0xC5, 100, 0, 9});
  const SmartPageView view = BuildSmartPageView({0, "M", record});
  ASSERT_EQ(view.rows.size(), 2U);
  EXPECT_EQ(view.rows[1].cells[0], "05-Reallocated sector count");
  EXPECT_EQ(view.overall_text, " Good ");
  EXPECT_EQ(view.overall_colour, VerdictColour::kBlack);
}

TEST(SmartPageView, AFullTableHasThirtyRows) {
  SmartDriveRecord record;
  for (std::size_t slot = 0; slot < 30; ++slot)
    PutSlot(record, slot, {static_cast<std::uint8_t>(0xC0 + slot)});
  EXPECT_EQ(BuildSmartPageView({0, "M", record}).rows.size(), 30U);
}

TEST(SmartPageView, NoAttributesHideTheTableAndBlankBothLabels) {
  SmartDriveRecord empty;
  empty.word106 = 0x6003;
  SmartDriveRecord first_slot_empty = RecordOf({}, 0xFFFF);
  PutSlot(first_slot_empty, 1, {0x05, 1, 50});
  for (const SmartDriveRecord& record : {empty, first_slot_empty}) {
    const SmartPageView view = BuildSmartPageView({0, "NORTHWIND", record});
    EXPECT_EQ(view.title, " SMART - HDD1 : NORTHWIND");
    EXPECT_FALSE(view.table_shown);
    EXPECT_TRUE(view.rows.empty());
    EXPECT_EQ(view.overall_text, "");
    EXPECT_EQ(view.four_k_text, "");
    EXPECT_EQ(view.four_k_hint, "");
  }
}

TEST(SmartCellSelection, NameAndRawCellsGoToThePanelAndTheHint) {
  const SmartDriveRecord shown = RecordOf({{0x05, 100, 36, 3}, {0x09, 90, 0, 0x1234}});
  const SmartPageView view = BuildSmartPageView({0, "M", shown});

  const SmartCellSelection name = SelectSmartCell(view, shown.data, 1, 0);
  EXPECT_EQ(name.panel_text, "09-Power-on hours count");
  EXPECT_EQ(name.hint, "09-Power-on hours count");

  // The raw value is read again from the data sector as it is now.
  SmartDriveRecord newer = shown;
  PutSlot(newer, 1, {0x09, 90, 0, 0x1235});
  const SmartCellSelection raw = SelectSmartCell(view, newer.data, 1, 4);
  EXPECT_EQ(raw.panel_text, "000000001235");
  EXPECT_EQ(raw.hint, "000000001235");

  for (std::size_t column : {1U, 2U, 3U, 5U}) {
    const SmartCellSelection other = SelectSmartCell(view, shown.data, 0, column);
    EXPECT_FALSE(other.panel_text) << column;
    EXPECT_EQ(other.hint, "") << column;
  }
  EXPECT_EQ(SelectSmartCell(view, shown.data, 2, 0), SmartCellSelection{});
}

}  // namespace
}  // namespace raid
