#include "app/about_page.h"

#include <QFont>
#include <QString>

#include "ui_about_page.h"

namespace raid {
namespace {

// Designer fonts are given in points; the page is laid out in pixels.
QFont PixelFont(int pixels, bool bold = false) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

constexpr int kTextPixels = 13;

}  // namespace

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
