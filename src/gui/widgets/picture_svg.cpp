// SPDX-License-Identifier: GPL-2.0-or-later
// Pictures drawn from their SVG by Qt's SVG module.
#include <QPainter>
#include <QSvgRenderer>

#include "gui/widgets/picture.h"

namespace raid::ui {

struct Picture::Source {
  QString path;
  QSvgRenderer renderer;
};

Picture::Picture(const QString& name) : source_(std::make_unique<Source>()) {
  source_->path = QStringLiteral(":/pictures/%1.svg").arg(name);
  source_->renderer.load(source_->path);
}

Picture::~Picture() = default;
Picture::Picture(Picture&&) noexcept = default;
Picture& Picture::operator=(Picture&&) noexcept = default;

bool Picture::isValid() const {
  return source_ && source_->renderer.isValid();
}

QSize Picture::size() const {
  return isValid() ? source_->renderer.defaultSize() : QSize();
}

void Picture::render(QPainter& painter, const QRectF& target) const {
  if (isValid()) source_->renderer.render(&painter, target);
}

QPixmap Picture::pixmap(int width, int height) const {
  return icon().pixmap(width, height);
}

QIcon Picture::icon() const {
  return source_ ? QIcon(source_->path) : QIcon();
}

}  // namespace raid::ui
