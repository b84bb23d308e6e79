// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui/smart/window_smart.h"

#include <QMetaObject>

#include "gui/smart/smart_page.h"
#include "gui/status/status_page.h"
#include "gui/widgets/guarded_slot.h"
#include "gui/widgets/window_ui_sink.h"
#include "health/smart_dump.h"

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

WindowSmart::WindowSmart(MonitorCore& core, PageSelection& selection, QWidget* window,
                         SmartPage* page, const StatusPage* status_page, WindowUiSink& ui,
                         std::filesystem::path log_folder)
    : core_(core),
      selection_(selection),
      page_(page),
      status_page_(status_page),
      ui_(ui),
      log_folder_(std::move(log_folder)) {
  QObject::connect(page_, &SmartPage::DriveClicked, window,
                   Guarded(window, this, &WindowSmart::DriveClick));
  QObject::connect(page_, &SmartPage::CellSelected, window,
                   Guarded(window, this, &WindowSmart::SelectCell));
  QObject::connect(page_, &SmartPage::StatusLineDoubleClicked, window,
                   Guarded(window, this, &WindowSmart::StatusLineDoubleClick));
  core_.smart_reader().SetAfterDataRead([this, window] {
    QMetaObject::invokeMethod(
        window,
        [this] {
          if (selection_.current_page() == kSmartPage) Show();
        },
        Qt::QueuedConnection);
  });
}

void WindowSmart::DriveClick(unsigned drive) {
  if (!selection_.TargetSwitchAllowed()) return;
  selection_.ShowSmartDrive(drive);
  Show();
}

SmartDriveRecord WindowSmart::ShownRecord() const {
  return core_.smart_store()
      .Snapshot(selection_.status_device(), selection_.smart_drive())
      .value_or(SmartDriveRecord{});
}

void WindowSmart::Show() {
  const unsigned drive = selection_.smart_drive();
  page_->SetShownDrive(drive);
  SmartPageInput input;
  input.drive = drive;
  input.model_label = status_page_->view().drives[drive < 2 ? drive : 0].model;
  input.record = ShownRecord();
  view_ = BuildSmartPageView(input);

  page_->SetTitle(view_.title);
  if (!view_.table_shown) {
    page_->ShowTable(false);
    page_->SetVerdict("", Qt::black);
    page_->SetSectorSupport("", "");
    return;
  }
  std::vector<SmartPage::Row> rows;
  rows.reserve(view_.rows.size());
  for (const SmartRow& row : view_.rows)
    rows.push_back({row.cells, RowQColor(row.colour)});
  page_->SetRows(rows);
  page_->ShowTable(true);
  page_->SetVerdict(view_.overall_text, VerdictQColor(view_.overall_colour));
  page_->SetSectorSupport(view_.four_k_text, view_.four_k_hint);
}

void WindowSmart::Blank() {
  view_ = SmartPageView{};
  page_->SetTitle("");
  page_->ShowTable(false);
  page_->SetVerdict("", Qt::black);
  page_->SetSectorSupport("", "");
  page_->SetStatusLine("");
}

void WindowSmart::SelectCell(int row, int column) {
  if (row < 0 || column < 0) return;
  const SmartCellSelection selection = SelectSmartCell(
      view_, ShownRecord().data, static_cast<std::size_t>(row), static_cast<std::size_t>(column));
  if (selection.panel_text) ui_.SetPanelText(kSelectionPanel, *selection.panel_text);
  page_->SetTableHint(selection.hint);
}

void WindowSmart::StatusLineDoubleClick() {
  const SmartDumpResult dump = DumpSmartSectors(log_folder_, core_.smart_store());
  for (const SpiDumpResult* file : {&dump.data, &dump.thresholds}) {
    if (file->panel_text) ui_.SetPanelText(kSelectionPanel, *file->panel_text);
    for (const MessageBoxRequest& message : file->messages)
      ui_.ShowMessage(message);
  }
}

}  // namespace raid
