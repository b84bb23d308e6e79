// SPDX-License-Identifier: GPL-2.0-or-later
// A drive's SMART sectors are whatever its firmware (or a controller that answered something
// else) put there: any bytes in any slot, any word 106. The page view built from them must keep
// to the table's shape, and selecting any cell must show what that cell holds.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "health/smart_page_view.h"

namespace {

// Input layout: the data sector (512 bytes), the threshold sector (512), word 106 (2, little-
// endian), then (row, column) pairs of cells to select. A short input is padded with zeros.
constexpr std::size_t kSelections = 2 * raid::kSmartSectorSize + 2;
constexpr const char* kModel = "FUZZ MODEL";

bool IsUpperHex(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F');
  });
}

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void CheckRow(const raid::SmartRow& row, const raid::SmartAttribute& slot) {
  Check(slot.id != 0);
  const std::string& name = row.cells[raid::kSmartNameColumn];
  Check(name.size() >= 4 && name.size() <= 3 + 33);
  Check(name.substr(0, 2) == raid::HexUpper(slot.id, 2));
  Check(name[2] == '-' || name.substr(2) == "h-UnKnown");
  Check(row.cells[1] == std::to_string(slot.current));
  Check(row.cells[2] == std::to_string(slot.worst));
  Check(row.cells[3] == std::to_string(slot.threshold));
  const std::string& raw = row.cells[raid::kSmartRawColumn];
  Check(raw.size() == 12 && IsUpperHex(raw) && std::stoull(raw, nullptr, 16) == slot.raw);
  Check(row.raw == slot.raw && row.raw < (std::uint64_t{1} << 48));
  const std::string& status = row.cells[5];
  Check((status == "Good" && row.colour == raid::RowColour::kWhite) ||
        (status == "Alert" && row.colour == raid::RowColour::kYellow) ||
        (status == "Error" && row.colour == raid::RowColour::kRed));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> input(data, data + size);
  if (input.size() < kSelections) input.resize(kSelections, 0);
  raid::SmartDriveRecord record;
  std::copy(input.begin(), input.begin() + raid::kSmartSectorSize, record.data.begin());
  std::copy(input.begin() + raid::kSmartSectorSize, input.begin() + 2 * raid::kSmartSectorSize,
            record.thresholds.begin());
  record.word106 =
      static_cast<std::uint16_t>(raid::ReadLittleEndian(input, 2 * raid::kSmartSectorSize, 2));

  const raid::SmartPageView view = raid::BuildSmartPageView({1, kModel, record});
  Check(view.title == std::string(" SMART - HDD2 : ") + kModel);
  Check(view.rows.size() <= raid::kSmartSlots);
  Check(view.rows.size() == raid::SmartRowCount(record.data));
  Check(view.table_shown == !view.rows.empty());
  bool any_error = false;
  bool all_good = true;
  for (std::size_t r = 0; r < view.rows.size(); ++r) {
    CheckRow(view.rows[r], raid::AttributeAt(record.data, record.thresholds, r));
    any_error = any_error || view.rows[r].cells[5] == "Error";
    all_good = all_good && view.rows[r].cells[5] == "Good";
  }
  if (view.rows.empty()) {
    Check(view.overall_text.empty() && view.four_k_text.empty() && view.four_k_hint.empty());
  } else {
    Check(view.overall_text == " Good " || view.overall_text == " Warning " ||
          view.overall_text == " Error ");
    if (any_error) Check(view.overall_text == " Error ");
    if (all_good) Check(view.overall_text == " Good ");
    const bool failure_code = (record.word106 & 0x8000) != 0;
    Check(view.four_k_hint.size() == (failure_code ? 11U : 16U));
    Check(view.four_k_text.rfind(" 4K Sector supported : ", 0) == 0);
  }

  for (std::size_t i = kSelections; i + 1 < input.size(); i += 2) {
    const std::size_t row = input[i] % 32;
    const std::size_t column = input[i + 1] % 8;
    const raid::SmartCellSelection selection =
        raid::SelectSmartCell(view, record.data, row, column);
    if (row < view.rows.size() &&
        (column == raid::kSmartNameColumn || column == raid::kSmartRawColumn)) {
      Check(selection.panel_text == view.rows[row].cells[column]);
      Check(selection.hint == view.rows[row].cells[column]);
    } else {
      Check(!selection.panel_text && selection.hint.empty());
    }
  }
  return 0;
}
