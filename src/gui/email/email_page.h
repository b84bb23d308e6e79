// SPDX-License-Identifier: GPL-2.0-or-later
// The E-mail page: three sub-pages chosen by the Setup, HDD_Fail and DeviceRemove buttons (the
// SMTP setup; the recipients, subject, contents and suppression box of the drive-failure and the
// device-removal alerts), with OK and Ignore below them. The page keeps its fields, the working
// recipient list and SettingsChangedMask through EmailPageModel; the window decides what the
// sub-page buttons, OK, Ignore and Test do.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>

#include "notify/email_page_model.h"

class QLineEdit;
class QTableWidget;

namespace Ui {
class EmailPage;
}

namespace raid {

class EmailPage : public QWidget {
  Q_OBJECT

 public:
  // EmailSubPage values, in the inner notebook's order.
  enum SubPage : unsigned { kSetup = 0, kHddFail = 1, kDeviceRemove = 2 };

  explicit EmailPage(QWidget* parent = nullptr);
  ~EmailPage() override;

  // Yellow picture on the chosen sub-page button, white on the others; clears both address entry
  // fields (Edit7, Edit6) and shows that sub-page. Any other value is ignored.
  void ShowSubPage(unsigned sub_page);

  // Opening the page and Ignore: the fields from `settings` as the model fills them; the changed
  // mask is cleared.
  void Open(const MailSettings& settings);
  void Ignore(const MailSettings& settings);
  // OK: the port and time-out defaults go into their fields, then what Save is to write.
  MailSettingsEdits PrepareOk();

  std::uint8_t SettingsChangedMask() const { return model_.settings_changed_mask(); }
  void ClearSettingsChangedMask() { model_.ClearSettingsChangedMask(); }

 signals:
  void SubPageClicked(unsigned sub_page);  // Image3_Setup, Image3_HDDFail, Image3_DeviceRemove
  void OkClicked();                        // Image3_OK
  void IgnoreClicked();                    // Image3_Ignore
  void TestClicked();                      // Image3_Test

 private:
  EmailPageFields Fields() const;
  void SetFields(const EmailPageFields& fields);
  void ShowLoginFields(bool shown);
  void ShowRecipients();
  // The plus and minus buttons and the grid selection of an event sub-page.
  void AddClick(QLineEdit* entry);
  void RemoveClick(const QTableWidget* grid, QLineEdit* entry);
  void SelectCell(int row, QLineEdit* entry);

  std::unique_ptr<Ui::EmailPage> ui_;
  EmailPageModel model_;
};

}  // namespace raid
