// SPDX-License-Identifier: GPL-2.0-or-later
// The verdict of each attribute and of the whole drive, the names and raw values the table shows
// and the 4K-sector answer: the rules a user reads the drive's health from.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "health/attribute_names.h"
#include "health/smart_page_view.h"
#include "health/smart_verdict.h"
#include "health/word106.h"
#include "smart_sectors.h"

namespace raid {
namespace {

using testing::RecordOf;
using testing::Slot;

struct AttributeCase {
  const char* what;
  Slot slot;
  const char* status;
  RowColour colour;
};

TEST(SmartAttributeVerdict, FollowsEachIdsRule) {
  const std::vector<AttributeCase> cases = {
      {"reallocated sectors, a few", {0x05, 100, 36, 3}, "Alert", RowColour::kYellow},
      {"reallocated sectors, none", {0x05, 100, 36, 0}, "Good", RowColour::kWhite},
      {"reallocated below threshold", {0x05, 35, 36, 0}, "Error", RowColour::kRed},
      {"seek errors at threshold", {0x07, 30, 30}, "Good", RowColour::kWhite},
      {"seek errors below threshold", {0x07, 29, 30}, "Error", RowColour::kRed},
      {"seek timer below threshold", {0x08, 29, 30}, "Error", RowColour::kRed},
      {"seek errors ignore raw", {0x07, 200, 30, 0xFFFF}, "Good", RowColour::kWhite},
      {"spin-up retries below threshold", {0x0A, 50, 51}, "Error", RowColour::kRed},
      {"spin-up retries counted", {0x0A, 100, 51, 1}, "Alert", RowColour::kYellow},
      {"calibration retries counted", {0x0B, 100, 0, 2}, "Alert", RowColour::kYellow},
      {"calibration has no threshold rule", {0x0B, 1, 200}, "Good", RowColour::kWhite},
      {"airflow too warm", {0xBE, 20, 45}, "Alert", RowColour::kYellow},
      {"airflow at threshold", {0xBE, 45, 45}, "Good", RowColour::kWhite},
      {"reallocation events", {0xC4, 100, 0, 1}, "Alert", RowColour::kYellow},
      {"pending sectors", {0xC5, 100, 0, 1}, "Alert", RowColour::kYellow},
      {"offline uncorrectable", {0xC6, 100, 0, 7}, "Alert", RowColour::kYellow},
      {"CRC errors", {0xC7, 100, 0, 1}, "Alert", RowColour::kYellow},
      {"CRC errors have no threshold rule", {0xC7, 1, 100}, "Good", RowColour::kWhite},
      {"power-on hours have no rule", {0x09, 0, 255, 0xFFFFFFFFFFFF}, "Good", RowColour::kWhite},
      {"an unnamed ID has no rule", {0x10, 0, 255, 1}, "Good", RowColour::kWhite},
  };
  for (const AttributeCase& c : cases) {
    const SmartPageView view = BuildSmartPageView({0, "", RecordOf({c.slot})});
    ASSERT_EQ(view.rows.size(), 1U) << c.what;
    EXPECT_EQ(view.rows[0].cells[5], c.status) << c.what;
    EXPECT_EQ(view.rows[0].colour, c.colour) << c.what;
  }
}

// The metrics publish the raw values of the judged attributes only: the list must name every ID
// whose rule can change a verdict, and no other.
TEST(SmartAttributeVerdict, RuleListNamesExactlyTheIdsThatCanBeJudged) {
  for (unsigned id = 0; id < 256; ++id) {
    const SmartAttribute worst{static_cast<std::uint8_t>(id), 1, 0, 1, 1};
    EXPECT_EQ(HasVerdictRule(static_cast<std::uint8_t>(id)),
              AttributeVerdict(worst) != kVerdictGood)
        << "ID " << id;
  }
}

struct DriveCase {
  const char* what;
  std::vector<Slot> slots;
  const char* overall;
  VerdictColour colour;
};

TEST(SmartDriveVerdict, AddsMinorFindingsAndKeepsAnError) {
  const Slot reallocated{0x05, 100, 36, 3};  // minor: 1
  const Slot events{0xC4, 100, 0, 1};        // minor: 1
  const Slot pending{0xC5, 100, 0, 1};       // minor: 2
  const Slot seek_error{0x07, 29, 30};       // error
  const Slot warm{0xBE, 20, 45};             // alert
  const Slot healthy{0x09, 90, 0, 5000};
  const std::vector<DriveCase> cases = {
      {"nothing found", {healthy}, " Good ", VerdictColour::kBlack},
      {"one minor finding alone", {reallocated, healthy}, " Good ", VerdictColour::kBlack},
      {"a pending sector", {pending}, " Warning ", VerdictColour::kMaroon},
      {"two minor findings", {reallocated, events}, " Warning ", VerdictColour::kMaroon},
      {"an alert", {warm}, " Warning ", VerdictColour::kMaroon},
      {"an error first", {seek_error, reallocated, pending, warm}, " Error ", VerdictColour::kRed},
      {"an error last", {reallocated, pending, seek_error}, " Error ", VerdictColour::kRed},
      {"an error between", {warm, seek_error, healthy}, " Error ", VerdictColour::kRed},
      // A single spin-up or calibration retry weighs an alert, more than a minor finding.
      {"a spin-up retry", {{0x0A, 100, 51, 1}, healthy}, " Warning ", VerdictColour::kMaroon},
      {"a calibration retry", {healthy, {0x0B, 100, 0, 2}}, " Warning ", VerdictColour::kMaroon},
      {"spin-up worst at threshold", {{0x0A, 51, 51}}, " Good ", VerdictColour::kBlack},
      {"spin-up worst below threshold", {{0x0A, 50, 51, 1}}, " Error ", VerdictColour::kRed},
      {"calibration has no threshold", {{0x0B, 1, 200, 1}}, " Warning ", VerdictColour::kMaroon},
  };
  for (const DriveCase& c : cases) {
    SmartDriveRecord record;
    for (std::size_t slot = 0; slot < c.slots.size(); ++slot)
      testing::PutSlot(record, slot, c.slots[slot]);
    const SmartPageView view = BuildSmartPageView({0, "", record});
    EXPECT_EQ(view.overall_text, c.overall) << c.what;
    EXPECT_EQ(view.overall_colour, c.colour) << c.what;
  }
}

TEST(SmartAttributeNames, FirstTableEntryWinsAndUnknownIdsSayHex) {
  const std::vector<std::pair<std::uint8_t, std::string>> cases = {
      {0x01, "01-Raw read error rate"},
      {0x05, "05-Reallocated sector count"},
      {0xB4, "B4-Unused Reserved Block Count Total"},
      {0xE8, "E8-Endurance Remaining"},
      {0xE9, "E9-Power-On Hours"},
      {0xF0, "F0-Head Flying Hours"},
      {0xFE, "FE-Free Fall Protection"},
      {0x10, "10h-UnKnown"},
      {0xD2, "D2h-UnKnown"},
      {0xFF, "FFh-UnKnown"},
  };
  for (const auto& [id, text] : cases)
    EXPECT_EQ(AttributeColumnText(id), text);
  EXPECT_EQ(AttributeName(0x10), "UnKnown");
}

TEST(SmartRawValue, ShowsSixBytesMostSignificantFirst) {
  SmartDriveRecord record = RecordOf({{0x09, 100, 0, 0x060504030201}});
  record.data[2 + 11] = 0xAB;  // the reserved byte after the raw value is not part of it
  const SmartPageView view = BuildSmartPageView({0, "", record});
  ASSERT_EQ(view.rows.size(), 1U);
  EXPECT_EQ(view.rows[0].cells[4], "060504030201");
  EXPECT_EQ(view.rows[0].raw, 0x060504030201U);
  EXPECT_EQ(RawValueText(0xABCDEF), "000000ABCDEF");
}

TEST(SmartFourKSectors, AnswersFromWord106OrItsFailureCode) {
  const std::vector<std::tuple<std::uint16_t, std::string, std::string>> cases = {
      {0x6003, " 4K Sector supported : Yes ", "WORD[106]=0x6003"},
      {0x4000, " 4K Sector supported : No ", "WORD[106]=0x4000"},
      {0x6002, " 4K Sector supported : No ", "WORD[106]=0x6002"},
      {0x000A, " 4K Sector supported : No ", "WORD[106]=0x000A"},
      {0xFFFF, " 4K Sector supported : Unknown ", "Code=0xFFFF"},
      {0xFFF7, " 4K Sector supported : Unknown ", "Code=0xFFF7"},
      {0xB1D0, " 4K Sector supported : Unknown ", "Code=0xB1D0"},
  };
  for (const auto& [word, text, hint] : cases) {
    const FourKSectorLabel label = FourKSectorAnswer(word);
    EXPECT_EQ(label.text, text) << word;
    EXPECT_EQ(label.hint, hint) << word;
  }
}

}  // namespace
}  // namespace raid
