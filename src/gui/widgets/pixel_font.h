// SPDX-License-Identifier: GPL-2.0-or-later
// The pages' fonts: the window descriptions give sizes in points, the pages are laid out in
// pixels.
#pragma once

#include <QFont>
#include <QString>

namespace raid::ui {

inline constexpr int kTextPixels = 13;  // the text of every page

inline QFont PixelFont(int pixels, bool bold = false) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

}  // namespace raid::ui
