// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui/widgets/message_boxes.h"

#include <QString>

namespace raid::ui {
namespace {

MessageBoxAnswerer& Answerer() {
  static MessageBoxAnswerer answerer;
  return answerer;
}

QMessageBox::Icon IconOf(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kInformation:
      return QMessageBox::Information;
    case MessageIcon::kWarning:
    case MessageIcon::kExclamation:
      return QMessageBox::Warning;
    case MessageIcon::kError:
      return QMessageBox::Critical;
    case MessageIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const MessageBoxRequest& request,
                                           QMessageBox::StandardButtons buttons) {
  if (Answerer()) return Answerer()(request);
  QMessageBox box(IconOf(request.icon), QString::fromStdString(request.caption),
                  QString::fromStdString(request.text), buttons, parent);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void AnswerMessageBoxesWith(MessageBoxAnswerer answerer) {
  Answerer() = std::move(answerer);
}

}  // namespace raid::ui
