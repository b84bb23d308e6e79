// SPDX-License-Identifier: GPL-2.0-or-later
// A picture of the window's resources (":/pictures/<name>"), drawn at any size. Where Qt's SVG
// module is built (Linux), it is the SVG itself; the Windows build has no SVG module, and takes
// the PNG rendered from the same SVG at twice its size when the program was built.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QRectF>
#include <QSize>
#include <QString>
#include <memory>

class QPainter;

namespace raid::ui {

class Picture {
 public:
  Picture() = default;
  explicit Picture(const QString& name);
  ~Picture();
  Picture(Picture&&) noexcept;
  Picture& operator=(Picture&&) noexcept;

  bool isValid() const;
  // The size it was drawn at (the SVG's own).
  QSize size() const;
  // Stretched to `target`, as the buttons draw themselves.
  void render(QPainter& painter, const QRectF& target) const;
  // Fitted into `size`, for a label or the window's icon.
  QPixmap pixmap(int width, int height) const;
  QIcon icon() const;

 private:
  struct Source;
  std::unique_ptr<Source> source_;
};

}  // namespace raid::ui
