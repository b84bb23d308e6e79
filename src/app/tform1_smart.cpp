// The window's SMART page handlers: ShowSmart from the SMART store, the drive buttons, the cell
// selection and the dump. The page never sends a command; the RAID worker reads the drives.
#include <QLabel>
#include <QMetaObject>

#include "app/tform1.h"
#include "health/smart_dump.h"
#include "health/smart_page.h"
#include "status/status_page.h"
#include "ui/message_boxes.h"

namespace raid {
namespace {

constexpr int kSelectionPanel = 4;

QColor RowQColor(RowColour colour) {
  switch (colour) {
    case RowColour::kRed:
      return Qt::red;
    case RowColour::kYellow:
      return Qt::yellow;
    case RowColour::kWhite:
      break;
  }
  return Qt::white;
}

QColor VerdictQColor(VerdictColour colour) {
  switch (colour) {
    case VerdictColour::kRed:
      return Qt::red;
    case VerdictColour::kMaroon:
      return QColor(0x80, 0x00, 0x00);
    case VerdictColour::kBlack:
      break;
  }
  return Qt::black;
}

}  // namespace

void TForm1::SetUpSmart() {
  connect(smart_page_, &SmartPage::DriveClicked, this, Guarded(&TForm1::SmartDriveClick));
  connect(smart_page_, &SmartPage::CellSelected, this, Guarded(&TForm1::StringGrid3SelectCell));
  connect(smart_page_, &SmartPage::StatusLineDoubleClicked, this,
          Guarded(&TForm1::SmartStatusLineDblClick));
  // A data read on the RAID worker draws the page again here, if it still shows.
  core_.smart_reader().SetAfterDataRead([this] {
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (core_.state().current_page.load() == kSmartPage) ShowSmart();
        },
        Qt::QueuedConnection);
  });
}

void TForm1::SmartDriveClick(unsigned drive) {
  if (core_.state().upgrade_target_index.load() != kNoUpgradeTarget) return;
  smart_device_ = static_cast<std::uint8_t>(drive);
  ShowSmart();
}

SmartDriveRecord TForm1::ShownSmartRecord() {
  return core_.smart_store().Snapshot(status_device_, smart_device_).value_or(SmartDriveRecord{});
}

void TForm1::ShowSmart() {
  smart_page_->SetShownDrive(smart_device_);
  SmartPageInput input;
  input.drive = smart_device_;
  input.model_label = status_page_->view().drives[smart_device_ < 2 ? smart_device_ : 0].model;
  input.record = ShownSmartRecord();
  smart_view_ = BuildSmartPageView(input);

  smart_page_->SetTitle(smart_view_.title);
  if (!smart_view_.table_shown) {
    smart_page_->ShowTable(false);
    smart_page_->SetVerdict("", Qt::black);
    smart_page_->SetSectorSupport("", "");
    return;
  }
  std::vector<SmartPage::Row> rows;
  rows.reserve(smart_view_.rows.size());
  for (const SmartRow& row : smart_view_.rows)
    rows.push_back({row.cells, RowQColor(row.colour)});
  smart_page_->SetRows(rows);
  smart_page_->ShowTable(true);
  smart_page_->SetVerdict(smart_view_.overall_text, VerdictQColor(smart_view_.overall_colour));
  smart_page_->SetSectorSupport(smart_view_.four_k_text, smart_view_.four_k_hint);
}

void TForm1::StringGrid3SelectCell(int row, int column) {
  if (row < 0 || column < 0) return;
  const SmartCellSelection selection =
      SelectSmartCell(smart_view_, ShownSmartRecord().data, static_cast<std::size_t>(row),
                      static_cast<std::size_t>(column));
  if (selection.panel_text) window_ui_.SetPanelText(kSelectionPanel, *selection.panel_text);
  smart_page_->SetTableHint(selection.hint);
}

void TForm1::SmartStatusLineDblClick() {
  const SmartDumpResult dump = DumpSmartSectors(options_.log_folder, core_.smart_store());
  for (const SpiDumpResult* file : {&dump.data, &dump.thresholds}) {
    if (file->panel_text) window_ui_.SetPanelText(kSelectionPanel, *file->panel_text);
    for (const MessageBoxRequest& message : file->messages)
      window_ui_.ShowMessage(message);
  }
}

}  // namespace raid
