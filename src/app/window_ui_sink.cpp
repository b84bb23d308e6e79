// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/window_ui_sink.h"

#include <QCheckBox>
#include <QLabel>
#include <QThread>

#include "ui/message_boxes.h"

namespace raid {

void WindowUiSink::SetPanelText(int panel, const std::string& text) {
  if (panel < 0 || panel >= static_cast<int>(panels_.size())) return;
  if (QLabel* label = panels_[static_cast<std::size_t>(panel)]) {
    // A text longer than its panel can still be read in full from the hint.
    label->setText(QString::fromStdString(text));
    label->setToolTip(label->text());
  }
}

void WindowUiSink::ShowMessage(const MessageBoxRequest& request) {
  ui::ShowMessageBox(window_, request);
}

void WindowUiSink::SetMonitorChecked(int position, bool checked) {
  // As a click does: the box's handler runs.
  if (position < 0 || position >= 2) return;
  QCheckBox* box = boxes_[static_cast<std::size_t>(position)];
  if (box != nullptr && box->isChecked() != checked) box->click();
}

bool QueuedUiSink::OnWindowThread() const {
  return receiver_ && QThread::currentThread() == receiver_->thread();
}

void QueuedUiSink::SetPanelText(int panel, const std::string& text) {
  if (OnWindowThread()) return target_.SetPanelText(panel, text);
  if (!receiver_) return;
  QMetaObject::invokeMethod(
      receiver_, [this, panel, text] { target_.SetPanelText(panel, text); }, Qt::QueuedConnection);
}

void QueuedUiSink::ShowMessage(const MessageBoxRequest& request) {
  if (OnWindowThread()) return target_.ShowMessage(request);
  if (!receiver_ || closed_.load()) return;
  QMetaObject::invokeMethod(
      receiver_,
      [this, request] {
        if (!closed_.load()) target_.ShowMessage(request);
      },
      Qt::BlockingQueuedConnection);
}

void QueuedUiSink::SetMonitorChecked(int position, bool checked) {
  if (OnWindowThread()) return target_.SetMonitorChecked(position, checked);
  if (!receiver_ || closed_.load()) return;
  QMetaObject::invokeMethod(
      receiver_,
      [this, position, checked] {
        if (!closed_.load()) target_.SetMonitorChecked(position, checked);
      },
      Qt::QueuedConnection);
}

}  // namespace raid
