// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui/upgrade/upgrade_page.h"

#include <QFont>
#include <QString>

#include "gui/widgets/pixel_font.h"
#include "gui/widgets/two_state_image_button.h"
#include "ui_upgrade_page.h"

namespace raid {
namespace {

constexpr const char* kLoadingText = "Loading the firmware file...";

// Designer fonts are given in points; the page is laid out in pixels.
QFont PageFont() {
  return ui::PixelFont(ui::kTextPixels);
}

}  // namespace

UpgradePage::UpgradePage(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::UpgradePage>()) {
  ui_->setupUi(this);
  setFont(PageFont());
  connect(ui_->Image2_D1, &QAbstractButton::clicked, this, [this] { emit DeviceClicked(0); });
  connect(ui_->Image2_D2, &QAbstractButton::clicked, this, [this] { emit DeviceClicked(1); });
  ui::AddPressEffect(ui_->Image2_Load);
  ui::AddPressEffect(ui_->Image2_Upgrade);
  connect(ui_->Image2_Load, &QAbstractButton::clicked, this, &UpgradePage::LoadClicked);
  connect(ui_->Image2_Upgrade, &QAbstractButton::clicked, this, &UpgradePage::UpgradeClicked);
}

UpgradePage::~UpgradePage() = default;

void UpgradePage::EnableLoadButton(bool enabled) {
  load_enabled_ = enabled;
  UpdateButtons();
}

void UpgradePage::EnableUpgradeButton(bool enabled) {
  upgrade_enabled_ = enabled;
  UpdateButtons();
}

void UpgradePage::ShowLoading(bool loading) {
  loading_ = loading;
  ui_->UpgradeLoadingLabel->setText(loading ? QString::fromUtf8(kLoadingText) : QString());
  UpdateButtons();
}

void UpgradePage::UpdateButtons() {
  ui_->Image2_Load->setEnabled(load_enabled_ && !loading_);
  ui_->Image2_Upgrade->setEnabled(upgrade_enabled_ && !loading_);
}

void UpgradePage::ShowDeviceButtons(unsigned position, bool shown) {
  if (position == 0) ui_->Image2_D1->setVisible(shown);
  if (position == 1) ui_->Image2_D2->setVisible(shown);
}

void UpgradePage::SetShownDevice(unsigned device) {
  ui_->Image2_D1->setCurrent(device == 0);
  ui_->Image2_D2->setCurrent(device == 1);
}

void UpgradePage::SetDeviceHints(const std::array<std::string, 2>& hints) {
  ui_->Image2_D1->setToolTip(QString::fromStdString(hints[0]));
  ui_->Image2_D2->setToolTip(QString::fromStdString(hints[1]));
}

void UpgradePage::SetVersionText(const std::string& text) {
  ui_->UpgradeVersionLabel->setText(QString::fromStdString(text));
}

void UpgradePage::SetPathText(const std::string& path) {
  ui_->UpgradePathEdit->setText(QString::fromStdString(path));
}

void UpgradePage::ShowProgressPanel(bool shown) {
  ui_->UpgradeProgressPanel->setVisible(shown);
}

void UpgradePage::SetProgressCaption(const std::string& text) {
  ui_->UpgradeProgressCaption->setText(QString::fromStdString(text));
}

void UpgradePage::SetProgressLabel(const std::string& text) {
  ui_->UpgradeProgressLabel->setText(QString::fromStdString(text));
}

int UpgradePage::Progress() const {
  return ui_->UpgradeProgressBar->value();
}

int UpgradePage::ProgressMaximum() const {
  return ui_->UpgradeProgressBar->maximum();
}

bool UpgradePage::ProgressPanelShown() const {
  return !ui_->UpgradeProgressPanel->isHidden();
}

void UpgradePage::SetProgress(int value) {
  ui_->UpgradeProgressBar->setValue(value);
}

void UpgradePage::SetProgressMaximum(int maximum) {
  ui_->UpgradeProgressBar->setMaximum(maximum);
}

}  // namespace raid
