// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/window_log_save.h"

#include <QMetaObject>
#include <QWidget>

#include "events/log_save_texts.h"
#include "gui/widgets/message_boxes.h"
#include "gui/widgets/window_ui_sink.h"

namespace raid {
namespace {

constexpr int kLogSavingPanel = 4;  // the widest
constexpr const char* kLogSavingKey = "log";

}  // namespace

// The failure holds its panel (and is shown once in a box) until the log is saved again.
void WindowLogSave::LogSaveFailed(const std::string& why) {
  const std::string text = LogSaveFailedText(why);
  QMetaObject::invokeMethod(
      window_, [this, text] { ui_.ShowPanelFailure(kLogSavingPanel, kLogSavingKey, text); },
      Qt::QueuedConnection);
}

void WindowLogSave::LogSaveRecovered() {
  QMetaObject::invokeMethod(
      window_,
      [this] {
        ui_.EndPanelFailure(kLogSavingPanel, kLogSavingKey);
        ui_.SetPanelText(kLogSavingPanel, kLogSavedAgainText);
      },
      Qt::QueuedConnection);
}

bool WindowLogSave::ReportUnsavedLinesAtClose() {
  core_.detector().SaveWaitingLines();  // the workers have stopped: one last try
  const EventDetector& detector = core_.detector();
  if (!detector.Unsaved()) return false;
  ui::ShowMessageBox(window_,
                     {kWarningCaption,
                      UnsavedLinesText(detector.UnsavedLineCount(), detector.UnsavedFiles(),
                                       core_.log_store().folder(), core_.log_store().last_error()),
                      MessageIcon::kWarning});
  return true;
}

}  // namespace raid
