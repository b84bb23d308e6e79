// The E-mail page: three sub-pages chosen by the Setup, HDD_Fail and DeviceRemove buttons (the
// SMTP setup; the recipients, subject, contents and suppression box of the drive-failure and the
// device-removal alerts), with OK and Ignore below them. The window decides what the buttons do;
// the page shows what it is told.
#pragma once

#include <QWidget>
#include <memory>

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

 signals:
  void SubPageClicked(unsigned sub_page);  // Image3_Setup, Image3_HDDFail, Image3_DeviceRemove

 private:
  std::unique_ptr<Ui::EmailPage> ui_;
};

}  // namespace raid
