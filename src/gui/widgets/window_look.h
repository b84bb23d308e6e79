// SPDX-License-Identifier: GPL-2.0-or-later
// How the main window looks, apart from what its form file gives: a fixed size in the middle of
// the screen, Arial on white, the five status panels, and the page buttons in their slots.
#pragma once

#include <array>
#include <initializer_list>

class QLabel;
class QMainWindow;
class QStatusBar;
class QWidget;

namespace raid {

// A window of fixed size: it may be made small or closed, never maximised; it opens in the
// middle of the screen it is on.
void DressMainWindow(QMainWindow& window);
// The status bar's five panels, in their widths and the bar's smaller font.
std::array<QLabel*, 5> AddStatusPanels(QStatusBar& bar);
// The shown page buttons take the design's slots in order.
void PlacePageButtons(std::initializer_list<QWidget*> shown);

}  // namespace raid
