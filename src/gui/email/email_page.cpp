// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui/email/email_page.h"

#include <QFont>
#include <QString>
#include <QTableWidget>
#include <array>

#include "gui/widgets/message_boxes.h"
#include "gui/widgets/pixel_font.h"
#include "gui/widgets/two_state_image_button.h"
#include "notify/mail_entry_checks.h"
#include "ui_email_page.h"

namespace raid {

using ui::kTextPixels;
using ui::PixelFont;

namespace {

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

std::string Text(const QString& text) {
  return text.toStdString();
}

void PrepareGrid(QTableWidget* grid) {
  for (int row = 0; row < grid->rowCount(); ++row) {
    auto* cell = new QTableWidgetItem;
    cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    grid->setItem(row, 0, cell);
  }
}

}  // namespace

EmailPage::EmailPage(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::EmailPage>()) {
  ui_->setupUi(this);
  setFont(PixelFont(kTextPixels));
  ui_->Caption_LocalInformation->setFont(PixelFont(kTextPixels, true));
  PrepareGrid(ui_->StringGrid1);
  PrepareGrid(ui_->StringGrid2);

  connect(ui_->Image3_Setup, &QAbstractButton::clicked, this,
          [this] { emit SubPageClicked(kSetup); });
  connect(ui_->Image3_HDDFail, &QAbstractButton::clicked, this,
          [this] { emit SubPageClicked(kHddFail); });
  connect(ui_->Image3_DeviceRemove, &QAbstractButton::clicked, this,
          [this] { emit SubPageClicked(kDeviceRemove); });
  connect(ui_->Image3_OK, &QAbstractButton::clicked, this, &EmailPage::OkClicked);
  connect(ui_->Image3_Ignore, &QAbstractButton::clicked, this, &EmailPage::IgnoreClicked);
  connect(ui_->Image3_Test, &QAbstractButton::clicked, this, &EmailPage::TestClicked);
  ui::AddPressEffect(ui_->Image3_OK);
  ui::AddPressEffect(ui_->Image3_Ignore);

  // The authentication box only shows or hides the login fields; OK compares it with the stored
  // switch.
  connect(ui_->CheckBox8, &QCheckBox::toggled, this, &EmailPage::ShowLoginFields);
  const std::array<QLineEdit*, kSettingCount> setup = {
      ui_->Edit1, ui_->Edit2, ui_->Edit3, ui_->Edit4, ui_->Edit5, ui_->Edit8, ui_->Edit12};
  for (std::size_t position = 0; position < setup.size(); ++position) {
    connect(setup[position], &QLineEdit::textChanged, this,
            [this, position] { model_.FieldChanged(position); });
  }
  // The password is stored in at most 15 bytes: what is typed or pasted past them, or would end
  // inside a character, is cut off where the user sees it.
  connect(ui_->Edit8, &QLineEdit::textEdited, this, [this](const QString& text) {
    const std::string bytes = Text(text);
    const std::string_view kept = Utf8Prefix(bytes, kMaxPasswordLength);
    if (kept.size() < bytes.size()) ui_->Edit8->setText(Text(std::string(kept)));
  });

  connect(ui_->Image3_1P, &QAbstractButton::clicked, this, [this] { AddClick(ui_->Edit7); });
  connect(ui_->Image3_2P, &QAbstractButton::clicked, this, [this] { AddClick(ui_->Edit6); });
  connect(ui_->Image3_1M, &QAbstractButton::clicked, this,
          [this] { RemoveClick(ui_->StringGrid1, ui_->Edit7); });
  connect(ui_->Image3_2M, &QAbstractButton::clicked, this,
          [this] { RemoveClick(ui_->StringGrid2, ui_->Edit6); });
  for (const auto& [grid, entry] :
       {std::pair{ui_->StringGrid1, ui_->Edit7}, std::pair{ui_->StringGrid2, ui_->Edit6}}) {
    connect(grid, &QTableWidget::cellClicked, this,
            [this, entry = entry](int row, int) { SelectCell(row, entry); });
    connect(grid, &QTableWidget::currentCellChanged, this,
            [this, entry = entry](int row) { SelectCell(row, entry); });
  }
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

void EmailPage::Open(const MailSettings& settings) {
  EmailPageFields fields = Fields();
  model_.Open(settings, fields);
  SetFields(fields);
  ShowRecipients();
  model_.ClearSettingsChangedMask();  // filling the fields is no change of the user's
}

void EmailPage::Ignore(const MailSettings& settings) {
  EmailPageFields fields = Fields();
  model_.Ignore(settings, fields);
  SetFields(fields);
  ShowRecipients();
  model_.ClearSettingsChangedMask();
}

MailSettingsEdits EmailPage::PrepareOk() {
  EmailPageFields fields = Fields();
  MailSettingsEdits edits = model_.PrepareOk(fields);
  SetFields(fields);
  return edits;
}

EmailPageFields EmailPage::Fields() const {
  EmailPageFields fields;
  const std::array<const QLineEdit*, kSettingCount> setup = {
      ui_->Edit1, ui_->Edit2, ui_->Edit3, ui_->Edit4, ui_->Edit5, ui_->Edit8, ui_->Edit12};
  for (std::size_t position = 0; position < setup.size(); ++position)
    fields.setup[position] = Text(setup[position]->text());
  fields.login_authentication = ui_->CheckBox8->isChecked();
  fields.suppress_hard_disks_fail = ui_->CheckBox2->isChecked();
  fields.suppress_device_removed = ui_->CheckBox4->isChecked();
  fields.subject_hard_disks_fail = Text(ui_->Edit10->text());
  fields.contents_hard_disks_fail = MemoLines(Text(ui_->Memo6->toPlainText()));
  fields.subject_device_removed = Text(ui_->Edit11->text());
  fields.contents_device_removed = MemoLines(Text(ui_->Memo4->toPlainText()));
  return fields;
}

void EmailPage::SetFields(const EmailPageFields& fields) {
  const std::array<QLineEdit*, kSettingCount> setup = {
      ui_->Edit1, ui_->Edit2, ui_->Edit3, ui_->Edit4, ui_->Edit5, ui_->Edit8, ui_->Edit12};
  for (std::size_t position = 0; position < setup.size(); ++position)
    setup[position]->setText(Text(fields.setup[position]));
  ui_->CheckBox8->setChecked(fields.login_authentication);
  ShowLoginFields(fields.login_authentication);
  ui_->CheckBox2->setChecked(fields.suppress_hard_disks_fail);
  ui_->CheckBox4->setChecked(fields.suppress_device_removed);
  ui_->Edit10->setText(Text(fields.subject_hard_disks_fail));
  ui_->Memo6->setPlainText(Text(MemoText(fields.contents_hard_disks_fail)));
  ui_->Edit11->setText(Text(fields.subject_device_removed));
  ui_->Memo4->setPlainText(Text(MemoText(fields.contents_device_removed)));
}

void EmailPage::ShowLoginFields(bool shown) {
  for (QWidget* widget : std::initializer_list<QWidget*>{
           ui_->Edit8, ui_->Edit12, ui_->Caption_Account, ui_->Caption_Password}) {
    widget->setVisible(shown);
  }
}

// Both grids show the one list, row i address i, empty rows below.
void EmailPage::ShowRecipients() {
  for (QTableWidget* grid : {ui_->StringGrid1, ui_->StringGrid2}) {
    for (int row = 0; row < grid->rowCount(); ++row) {
      QTableWidgetItem* cell = grid->item(row, 0);
      cell->setText(Text(model_.recipients().RowText(row)));
      cell->setToolTip(cell->text());  // an address wider than the column
    }
  }
}

void EmailPage::AddClick(QLineEdit* entry) {
  const PendingRecipients::AddResult result = model_.recipients().Add(Text(entry->text()));
  if (result.added) ShowRecipients();
  if (result.refusal) ui::ShowMessageBox(window(), *result.refusal);
  if (result.clear_entry) entry->clear();
}

void EmailPage::RemoveClick(const QTableWidget* grid, QLineEdit* entry) {
  if (!model_.recipients().Remove(grid->currentRow())) return;
  entry->clear();
  ShowRecipients();
}

void EmailPage::SelectCell(int row, QLineEdit* entry) {
  if (row < 0) return;
  entry->setText(Text(model_.recipients().RowText(row)));
}

}  // namespace raid
