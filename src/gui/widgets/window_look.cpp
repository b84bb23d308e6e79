// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui/widgets/window_look.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QScreen>
#include <QStatusBar>

#include "gui/widgets/picture.h"
#include "gui/widgets/pixel_font.h"

namespace raid {
namespace {

constexpr std::array<int, 5> kPanelWidths = {100, 80, 80, 100, 250};
constexpr std::array<int, 6> kButtonSlotTops = {104, 160, 216, 272, 328, 384};
constexpr int kButtonSlotLeft = 12;

}  // namespace

void DressMainWindow(QMainWindow& window) {
  window.setWindowIcon(ui::Picture(QStringLiteral("icon")).icon());
  window.setFixedSize(620, 440);
  window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                        Qt::WindowCloseButtonHint);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame(QPoint(0, 0), window.size());
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
  }
  window.setFont(ui::PixelFont(ui::kTextPixels));
  window.setAutoFillBackground(true);
  QPalette white = window.palette();
  white.setColor(QPalette::Window, Qt::white);
  window.setPalette(white);
}

std::array<QLabel*, 5> AddStatusPanels(QStatusBar& bar) {
  std::array<QLabel*, 5> panels{};
  for (std::size_t i = 0; i < panels.size(); ++i) {
    panels[i] = new QLabel(bar.parentWidget());
    panels[i]->setObjectName(QStringLiteral("Panel%1").arg(i));
    panels[i]->setFixedWidth(kPanelWidths[i]);
    panels[i]->setFont(ui::PixelFont(11));
    bar.addWidget(panels[i]);
  }
  return panels;
}

void PlacePageButtons(std::initializer_list<QWidget*> shown) {
  std::size_t slot = 0;
  for (QWidget* button : shown)
    button->move(kButtonSlotLeft, kButtonSlotTops[slot++]);
}

}  // namespace raid
