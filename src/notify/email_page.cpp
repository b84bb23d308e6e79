#include "notify/email_page.h"

#include <QFont>
#include <QString>
#include <array>

#include "ui/two_state_image_button.h"
#include "ui_email_page.h"

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

EmailPage::EmailPage(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::EmailPage>()) {
  ui_->setupUi(this);
  setFont(PixelFont(kTextPixels));
  ui_->Caption_LocalInformation->setFont(PixelFont(kTextPixels, true));
  connect(ui_->Image3_Setup, &QAbstractButton::clicked, this,
          [this] { emit SubPageClicked(kSetup); });
  connect(ui_->Image3_HDDFail, &QAbstractButton::clicked, this,
          [this] { emit SubPageClicked(kHddFail); });
  connect(ui_->Image3_DeviceRemove, &QAbstractButton::clicked, this,
          [this] { emit SubPageClicked(kDeviceRemove); });
}

EmailPage::~EmailPage() = default;

void EmailPage::ShowSubPage(unsigned sub_page) {
  const std::array<ui::TwoStateImageButton*, 3> buttons = {ui_->Image3_Setup, ui_->Image3_HDDFail,
                                                           ui_->Image3_DeviceRemove};
  if (sub_page >= buttons.size()) return;
  for (unsigned i = 0; i < buttons.size(); ++i)
    buttons[i]->setCurrent(i == sub_page);
  ui_->Edit7->clear();
  ui_->Edit6->clear();
  ui_->EmailNotebook->setCurrentIndex(static_cast<int>(sub_page));
}

}  // namespace raid
