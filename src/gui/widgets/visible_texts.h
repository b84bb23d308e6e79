// SPDX-License-Identifier: GPL-2.0-or-later
// The texts a person sees in a window, one line per widget that shows one: its object name and
// its text, line breaks written as "\n". Written beside each picture the demo saves, so that a
// review or a test can read a page without looking at it.
#pragma once

#include <QString>

class QWidget;

namespace raid::ui {

QString VisibleTexts(const QWidget& window);

}  // namespace raid::ui
