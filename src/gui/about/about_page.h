// SPDX-License-Identifier: GPL-2.0-or-later
// The About page: the product line and the program's version text.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

namespace Ui {
class AboutPage;
}

namespace raid {

class AboutPage : public QWidget {
  Q_OBJECT

 public:
  explicit AboutPage(QWidget* parent = nullptr);
  ~AboutPage() override;

  void SetVersionText(const std::string& text);

 private:
  std::unique_ptr<Ui::AboutPage> ui_;
};

}  // namespace raid
