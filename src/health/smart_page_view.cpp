// SPDX-License-Identifier: GPL-2.0-or-later
#include "health/smart_page_view.h"

#include "health/attribute_names.h"
#include "health/word106.h"

namespace raid {
namespace {

constexpr const char* kTitlePrefix = " SMART - ";
constexpr const char* kDriveNames[kMemberDrives] = {"HDD1", "HDD2"};

SmartRow RowOf(const SmartAttribute& attribute, std::uint8_t verdict) {
  SmartRow row;
  row.cells = {AttributeColumnText(attribute.id), std::to_string(attribute.current),
               std::to_string(attribute.worst),   std::to_string(attribute.threshold),
               RawValueText(attribute.raw),       std::string(AttributeVerdictText(verdict))};
  row.colour = AttributeRowColour(verdict);
  row.raw = attribute.raw;
  return row;
}

}  // namespace

std::string_view MemberDriveName(unsigned drive) {
  return kDriveNames[drive < kMemberDrives ? drive : 0];
}

SmartPageView BuildSmartPageView(const SmartPageInput& input) {
  SmartPageView view;
  view.title = kTitlePrefix + std::string(MemberDriveName(input.drive)) + " : " + input.model_label;
  const SmartDriveRecord& record = input.record;
  // Only the slots before the first empty one are rows; a used slot after a gap has no row to
  // go to.
  const std::size_t count = SmartRowCount(record.data);
  if (count == 0) return view;

  view.table_shown = true;
  std::uint8_t drive_verdict = kVerdictGood;
  for (std::size_t slot = 0; slot < count; ++slot) {
    const SmartAttribute attribute = AttributeAt(record.data, record.thresholds, slot);
    const std::uint8_t verdict = AttributeVerdict(attribute);
    drive_verdict = AccumulateVerdict(drive_verdict, verdict);
    view.rows.push_back(RowOf(attribute, verdict));
  }
  view.overall_text = DriveVerdictText(drive_verdict);
  view.overall_colour = DriveVerdictColour(drive_verdict);
  FourKSectorLabel four_k = FourKSectorAnswer(record.word106);
  view.four_k_text = std::move(four_k.text);
  view.four_k_hint = std::move(four_k.hint);
  return view;
}

SmartCellSelection SelectSmartCell(const SmartPageView& view, const SmartSector& data,
                                   std::size_t row, std::size_t column) {
  SmartCellSelection selection;
  if (row >= view.rows.size()) return selection;
  std::string shown;
  if (column == kSmartNameColumn) {
    shown = view.rows[row].cells[kSmartNameColumn];
  } else if (column == kSmartRawColumn) {
    // Row r shows slot r: the rows are the slots before the first empty one.
    shown = RawValueText(AttributeAt(data, data, row).raw);
  } else {
    return selection;
  }
  selection.panel_text = shown;
  selection.hint = shown;
  return selection;
}

}  // namespace raid
