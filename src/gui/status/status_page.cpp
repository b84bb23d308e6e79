// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui/status/status_page.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPalette>

#include "gui/widgets/pixel_font.h"
#include "gui/widgets/two_state_image_button.h"
#include "ui_status_page.h"

namespace raid {

using ui::kTextPixels;
using ui::PixelFont;

namespace {

constexpr int kModelPixels = 11;
constexpr int kStatePixels = 24;

QColor ColourOf(TextColour colour) {
  switch (colour) {
    case TextColour::kNavy:
      return {0x00, 0x00, 0x80};
    case TextColour::kRed:
      return {0xFF, 0x00, 0x00};
    case TextColour::kBlue:
      return {0x00, 0x00, 0xFF};
  }
  return {};
}

// Fuchsia, or red once the state is that the enclosure no longer answers.
QColor StateColour(bool current) {
  return current ? QColor(0xFF, 0x00, 0xFF) : ColourOf(TextColour::kRed);
}

// Only the enabled groups: a disabled label keeps the palette's grey.
void SetTextColour(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Active, QPalette::WindowText, colour);
  palette.setColor(QPalette::Inactive, QPalette::WindowText, colour);
  widget->setPalette(palette);
}

// Model texts run to 40 characters, not always with a blank: break them where the label ends,
// at a blank when there is one, and never let the second line run out of the label.
QString TwoLines(const QString& text, const QLabel& label) {
  const QFontMetrics metrics(label.font());
  const int width = label.contentsRect().width();
  if (metrics.horizontalAdvance(text) <= width) return text;
  qsizetype cut = text.size();
  while (cut > 1 && metrics.horizontalAdvance(text.left(cut)) > width)
    --cut;
  qsizetype rest = cut;
  if (const qsizetype blank = text.lastIndexOf(QLatin1Char(' '), cut); blank > 0) {
    cut = blank;
    rest = blank + 1;
  }
  return text.left(cut) + QLatin1Char('\n') +
         metrics.elidedText(text.mid(rest), Qt::ElideRight, width);
}

void ShowText(QLabel* label, const std::string& text) {
  label->setText(QString::fromStdString(text));
}

}  // namespace

StatusPage::StatusPage(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::StatusPage>()) {
  ui_->setupUi(this);
  setFont(PixelFont(kTextPixels));
  for (QLabel* model : {ui_->Label51, ui_->Label52})
    model->setFont(PixelFont(kModelPixels));
  for (QLabel* heading : {ui_->Caption_Hdd1, ui_->Caption_Hdd2})
    heading->setFont(PixelFont(kTextPixels, true));
  ui_->Label18->setFont(PixelFont(kStatePixels, true));
  for (QLabel* value : {ui_->Label17, ui_->Label27, ui_->Label48, ui_->Label51, ui_->Label52})
    SetTextColour(value, ColourOf(TextColour::kNavy));

  connect(ui_->Image0_D1, &QAbstractButton::clicked, this, [this] { emit DeviceClicked(0); });
  connect(ui_->Image0_D2, &QAbstractButton::clicked, this, [this] { emit DeviceClicked(1); });
  ui::AddPressEffect(ui_->Image0_Log);
  connect(ui_->Image0_Log, &QAbstractButton::clicked, this, &StatusPage::LogClicked);
  ApplyView();
}

StatusPage::~StatusPage() = default;

int StatusPage::RefreshStatusPage(const StatusPageInput& input, bool force) {
  const int result = model_.RefreshStatusPage(input, force);
  if (model_.changed()) ApplyView();
  return result;
}

void StatusPage::ForgetShown() {
  model_.Forget();
  ApplyView();
}

void StatusPage::ShowDeviceButtons(unsigned position, bool shown) {
  if (position == 0) ui_->Image0_D1->setVisible(shown);
  if (position == 1) ui_->Image0_D2->setVisible(shown);
}

void StatusPage::SetShownDevice(unsigned device) {
  ui_->Image0_D1->setCurrent(device == 0);
  ui_->Image0_D2->setCurrent(device == 1);
}

void StatusPage::SetDeviceHints(const std::array<std::string, 2>& hints) {
  ui_->Image0_D1->setToolTip(QString::fromStdString(hints[0]));
  ui_->Image0_D2->setToolTip(QString::fromStdString(hints[1]));
}

void StatusPage::ShowLogButton(bool shown) {
  model_.ShowLogButton(shown);
  ui_->Image0_Log->setVisible(shown);
}

void StatusPage::ApplyView() {
  const StatusPageView& view = model_.view();
  // Values not known to be current are greyed.
  const bool current = !view.no_response;
  ShowText(ui_->Label17, view.mode);
  ShowText(ui_->Label27, view.system_capacity);
  ShowText(ui_->Label48, view.firmware_version);
  for (QLabel* value : {ui_->Label17, ui_->Label27, ui_->Label48, ui_->Label5, ui_->Label7})
    value->setEnabled(current);

  const std::array<QLabel*, 2> capacities = {ui_->Label25, ui_->Label26};
  const std::array<QLabel*, 2> models = {ui_->Label51, ui_->Label52};
  for (std::size_t drive = 0; drive < view.drives.size(); ++drive) {
    const DriveLabels& labels = view.drives[drive];
    ShowText(capacities[drive], labels.capacity);
    SetTextColour(capacities[drive], ColourOf(labels.capacity_colour));
    capacities[drive]->setEnabled(labels.capacity_enabled && current);
    models[drive]->setText(TwoLines(QString::fromStdString(labels.model), *models[drive]));
    models[drive]->setToolTip(QString::fromStdString(labels.model));
    models[drive]->setEnabled(labels.model_enabled && current);
  }

  ShowText(ui_->Label18, view.state_text);
  SetTextColour(ui_->Label18, StateColour(current));
  ShowText(ui_->Label5, view.fan_speed);
  SetTextColour(ui_->Label5, ColourOf(view.fan_colour));
  ShowText(ui_->Label7, view.temperature);
  SetTextColour(ui_->Label7, ColourOf(view.temperature_colour));
  ui_->Panel11->setVisible(view.sensor_panel_shown);
  ui_->Image0_Log->setVisible(view.log_button_shown);
}

}  // namespace raid
