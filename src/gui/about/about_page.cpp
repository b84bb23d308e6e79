// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui/about/about_page.h"

#include <QFont>
#include <QString>

#include "gui/widgets/pixel_font.h"
#include "ui_about_page.h"

namespace raid {

using ui::kTextPixels;
using ui::PixelFont;

namespace {}  // namespace

AboutPage::AboutPage(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::AboutPage>()) {
  ui_->setupUi(this);
  setFont(PixelFont(kTextPixels));
  ui_->AboutProductLine->setFont(PixelFont(kTextPixels, true));
}

AboutPage::~AboutPage() = default;

void AboutPage::SetVersionText(const std::string& text) {
  ui_->AboutVersion->setText(QString::fromStdString(text));
}

}  // namespace raid
