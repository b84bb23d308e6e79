// SPDX-License-Identifier: GPL-2.0-or-later
// A picture button with two states, as every button of the window is: the yellow picture marks
// the current choice (the page shown, the device chosen), the white one the others. The pictures
// are SVG, drawn at whatever size and screen scale the button has.
#pragma once

#include <QAbstractButton>
#include <QString>

#include <memory>

namespace raid::ui {

class Picture;

class TwoStateImageButton : public QAbstractButton {
  Q_OBJECT
  Q_PROPERTY(QString picture READ picture WRITE setPicture)
  Q_PROPERTY(bool current READ isCurrent WRITE setCurrent)

 public:
  explicit TwoStateImageButton(QWidget* parent = nullptr);
  ~TwoStateImageButton() override;

  // The picture's base name in the resources: "<name>_yellow" and "<name>_white".
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
  std::unique_ptr<Picture> yellow_;
  std::unique_ptr<Picture> white_;
};

// The button's picture sinks a little while the mouse holds it and comes back when it lets go,
// for the buttons that act (OK, Load, Upgrade...) rather than choose.
void AddPressEffect(QAbstractButton* button);

// The pictures live in a static library; its resources must be registered once at start.
void InitPictures();

}  // namespace raid::ui
