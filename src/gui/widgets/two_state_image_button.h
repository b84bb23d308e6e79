// SPDX-License-Identifier: GPL-2.0-or-later
// A picture button with two states, as every button of the window is: the yellow picture marks
// the current choice (the page shown, the device chosen), the white one the others. The pictures
// are SVG, drawn at whatever size and screen scale the button has.
#pragma once

#include <QAbstractButton>
#include <QString>

class QSvgRenderer;

namespace raid::ui {

class TwoStateImageButton : public QAbstractButton {
  Q_OBJECT
  Q_PROPERTY(QString picture READ picture WRITE setPicture)
  Q_PROPERTY(bool current READ isCurrent WRITE setCurrent)

 public:
  explicit TwoStateImageButton(QWidget* parent = nullptr);

  // The picture's base name in the resources: ":/pictures/<name>_yellow.svg" and "_white.svg".
  QString picture() const { return picture_; }
  void setPicture(const QString& name);
  bool isCurrent() const { return current_; }
  void setCurrent(bool current);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString picture_;
  bool current_ = false;
  QSvgRenderer* yellow_ = nullptr;
  QSvgRenderer* white_ = nullptr;
};

// The button's picture sinks a little while the mouse holds it and comes back when it lets go,
// for the buttons that act (OK, Load, Upgrade...) rather than choose.
void AddPressEffect(QAbstractButton* button);

// The pictures live in a static library; its resources must be registered once at start.
void InitPictures();

}  // namespace raid::ui
