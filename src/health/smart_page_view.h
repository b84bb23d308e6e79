// SPDX-License-Identifier: GPL-2.0-or-later
// What the SMART page shows of one member drive, decided without a window: the title, the
// attribute table's rows with their colours, the overall verdict and the 4K-sector answer, and
// what selecting a cell shows. The page only copies the view onto its widgets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "health/smart_store.h"
#include "health/smart_verdict.h"

namespace raid {

inline constexpr std::size_t kSmartColumns = 6;
inline constexpr std::size_t kSmartNameColumn = 0;
inline constexpr std::size_t kSmartRawColumn = 4;

struct SmartRow {
  // ID and name, value, worst, threshold, raw value, status.
  std::array<std::string, kSmartColumns> cells;
  RowColour colour = RowColour::kWhite;
  std::uint64_t raw = 0;
  bool operator==(const SmartRow&) const = default;
};

struct SmartPageView {
  std::string title;  // " SMART - HDD1 : " + the drive's model label
  bool table_shown = false;
  std::vector<SmartRow> rows;
  std::string overall_text;  // " Good ", " Warning ", " Error ", or empty with no table
  VerdictColour overall_colour = VerdictColour::kBlack;
  std::string four_k_text;  // " 4K Sector supported : Yes ", or empty with no table
  std::string four_k_hint;
  bool operator==(const SmartPageView&) const = default;
};

struct SmartPageInput {
  unsigned drive = 0;       // SmartDevice: 0 HDD1, 1 HDD2
  std::string model_label;  // that drive's model label on the Status page (Label51, Label52)
  SmartDriveRecord record;  // a snapshot from the SMART store
};

// "HDD1" or "HDD2", as the drive's name label on the Status page reads.
std::string_view MemberDriveName(unsigned drive);

// ShowSmart without the widgets.
SmartPageView BuildSmartPageView(const SmartPageInput& input);

// What selecting a table cell shows: column 0 its text, column 4 the row's raw value read again
// from `data`, both in the fifth status-bar panel and as the table's hint; any other cell clears
// the hint and leaves the panel alone.
struct SmartCellSelection {
  std::optional<std::string> panel_text;  // status-bar panel 4
  std::string hint;                       // empty: no hint
  bool operator==(const SmartCellSelection&) const = default;
};
SmartCellSelection SelectSmartCell(const SmartPageView& view, const SmartSector& data,
                                   std::size_t row, std::size_t column);

}  // namespace raid
