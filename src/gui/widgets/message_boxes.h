// SPDX-License-Identifier: GPL-2.0-or-later
// Message boxes with the program's captions, texts and icons. Shown by the window thread only;
// tests answer them in advance instead of a person.
#pragma once

#include <QMessageBox>
#include <functional>

#include "common/ui_sink.h"

namespace raid::ui {

// Shows `request` modally over `parent` and returns the button pressed.
QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const MessageBoxRequest& request,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// While set, every box goes to `answerer` instead of the screen and takes its answer.
using MessageBoxAnswerer = std::function<QMessageBox::StandardButton(const MessageBoxRequest&)>;
void AnswerMessageBoxesWith(MessageBoxAnswerer answerer);

}  // namespace raid::ui
