// SPDX-License-Identifier: GPL-2.0-or-later
// Pictures drawn from PNGs rendered at build time from their SVG, at twice the SVG's size, for a
// Qt without its SVG module.
#include <QPainter>

#include "gui/widgets/picture.h"

namespace raid::ui {

struct Picture::Source {
  QPixmap pixmap;
};

Picture::Picture(const QString& name) : source_(std::make_unique<Source>()) {
  source_->pixmap.load(QStringLiteral(":/pictures/%1.png").arg(name));
}

Picture::~Picture() = default;
Picture::Picture(Picture&&) noexcept = default;
Picture& Picture::operator=(Picture&&) noexcept = default;

bool Picture::isValid() const {
  return source_ && !source_->pixmap.isNull();
}

// The PNG was rendered at twice the SVG's size (gui.cmake).
QSize Picture::size() const {
  return isValid() ? source_->pixmap.size() / 2 : QSize();
}

void Picture::render(QPainter& painter, const QRectF& target) const {
  if (!isValid()) return;
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawPixmap(target, source_->pixmap, QRectF(source_->pixmap.rect()));
}

QPixmap Picture::pixmap(int width, int height) const {
  if (!isValid()) return {};
  return source_->pixmap.scaled(width, height, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QIcon Picture::icon() const {
  return isValid() ? QIcon(source_->pixmap) : QIcon();
}

}  // namespace raid::ui
