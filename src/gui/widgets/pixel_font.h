// SPDX-License-Identifier: GPL-2.0-or-later
// The pages' fonts: the window descriptions give sizes in points, the pages are laid out in
// pixels.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

namespace raid::ui {

inline constexpr int kTextPixels = 13;  // the text of every page

// Arial where the system has it (Windows; fontconfig maps it to a look-alike on Linux), else its
// metric twin Liberation Sans by name: a Qt without fontconfig (Windows' offscreen platform, fed
// a font folder) matches only names.
inline QStringList TextFamilies() {
  return {QStringLiteral("Arial"), QStringLiteral("Liberation Sans")};
}

inline QFont PixelFont(int pixels, bool bold = false) {
  QFont font;
  font.setFamilies(TextFamilies());
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

}  // namespace raid::ui
