// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui/widgets/window_ui_sink.h"

#include <QCheckBox>
#include <QLabel>
#include <QThread>

#include "gui/widgets/message_boxes.h"
#include "status/status_page_model.h"

namespace raid {
namespace {

// The widest panel: failures go there.
constexpr int kNoResponsePanel = 4;

std::string NoResponseKey(unsigned position) {
  return "no response " + std::to_string(position);
}

}  // namespace

void WindowUiSink::SetPanelText(int panel, const std::string& text) {
  if (texts_.Set(panel, text)) Draw(panel);
}

void WindowUiSink::ShowPanelFailure(int panel, const std::string& key, const std::string& text) {
  const bool began = texts_.Hold(panel, key, text);
  Draw(panel);
  if (!began || panel < 0 || panel >= static_cast<int>(panels_.size())) return;
  // What the panel cuts short is shown in full once, in a box.
  const QLabel* label = panels_[static_cast<std::size_t>(panel)];
  if (label == nullptr ||
      label->fontMetrics().horizontalAdvance(QString::fromStdString(text)) > label->width()) {
    ui::ShowMessageBox(window_, {kWarningCaption, text, MessageIcon::kWarning});
  }
}

void WindowUiSink::EndNoResponse(unsigned position) {
  EndPanelFailure(kNoResponsePanel, NoResponseKey(position));
}

void WindowUiSink::EndPanelFailure(int panel, const std::string& key) {
  if (texts_.Release(panel, key)) Draw(panel);
}

void WindowUiSink::Draw(int panel) {
  if (panel < 0 || panel >= static_cast<int>(panels_.size())) return;
  if (QLabel* label = panels_[static_cast<std::size_t>(panel)]) {
    // A text longer than its panel can still be read in full from the hint.
    label->setText(QString::fromStdString(texts_.Shown(panel)));
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
  // Polling gave up on it: say so, until its box is checked again.
  if (!checked) {
    ShowPanelFailure(kNoResponsePanel, NoResponseKey(static_cast<unsigned>(position)),
                     DeviceNoResponseText(static_cast<unsigned>(position)));
  }
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

void QueuedUiSink::ShowPanelFailure(int panel, const std::string& key, const std::string& text) {
  if (OnWindowThread()) return target_.ShowPanelFailure(panel, key, text);
  if (!receiver_ || closed_.load()) return;
  QMetaObject::invokeMethod(
      receiver_,
      [this, panel, key, text] {
        if (!closed_.load()) target_.ShowPanelFailure(panel, key, text);
      },
      Qt::QueuedConnection);
}

void QueuedUiSink::EndPanelFailure(int panel, const std::string& key) {
  if (OnWindowThread()) return target_.EndPanelFailure(panel, key);
  if (!receiver_) return;
  QMetaObject::invokeMethod(
      receiver_, [this, panel, key] { target_.EndPanelFailure(panel, key); }, Qt::QueuedConnection);
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
