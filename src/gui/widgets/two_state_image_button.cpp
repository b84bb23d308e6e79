// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui/widgets/two_state_image_button.h"

#include <QPainter>

#include "gui/widgets/picture.h"

// Q_INIT_RESOURCE names a function of the global namespace.
static void InitPictureResources() {
  Q_INIT_RESOURCE(pictures);
}

namespace raid::ui {

TwoStateImageButton::~TwoStateImageButton() = default;

TwoStateImageButton::TwoStateImageButton(QWidget* parent) : QAbstractButton(parent) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
}

void TwoStateImageButton::setPicture(const QString& name) {
  picture_ = name;
  yellow_ = std::make_unique<Picture>(name + QStringLiteral("_yellow"));
  white_ = std::make_unique<Picture>(name + QStringLiteral("_white"));
  update();
}

void TwoStateImageButton::setCurrent(bool current) {
  if (current_ == current) return;
  current_ = current;
  update();
}

QSize TwoStateImageButton::sizeHint() const {
  return {169, 44};
}

void TwoStateImageButton::paintEvent(QPaintEvent* /*event*/) {
  const Picture* picture = current_ ? yellow_.get() : white_.get();
  if (picture == nullptr || !picture->isValid()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  // A disabled button stays readable but says that it cannot be pressed now.
  if (!isEnabled()) painter.setOpacity(0.45);
  picture->render(painter, QRectF(rect()));
}

void InitPictures() {
  InitPictureResources();
}

void AddPressEffect(QAbstractButton* button) {
  constexpr int kPressOffset = 2;
  QObject::connect(button, &QAbstractButton::pressed, button,
                   [button] { button->move(button->pos() + QPoint(0, kPressOffset)); });
  QObject::connect(button, &QAbstractButton::released, button,
                   [button] { button->move(button->pos() - QPoint(0, kPressOffset)); });
}

}  // namespace raid::ui
