// SPDX-License-Identifier: GPL-2.0-or-later
// The E-mail page in the window: its sub-pages, OK, Ignore and Test, over the mail pieces the
// window and the e-mail worker share.
#pragma once

#include <cstdint>

#include "notify/mail_stack.h"

class QWidget;

namespace raid {

class EmailPage;

class WindowEmail {
 public:
  WindowEmail(QWidget* window, EmailPage* page, MailStack& mail);

  // The page comes into view: it shows the stored settings, on the sub-page it had.
  void Open();
  // Saving is a quick write of the key and the template files; the reload it requests runs on
  // the e-mail worker.
  void OkClick();
  void IgnoreClick();
  // The mailer refuses with its own message, or asks the e-mail worker to send.
  void TestClick();

 private:
  void ShowSubPage(unsigned sub_page);

  QWidget* window_;
  EmailPage* page_;
  MailStack& mail_;
  std::uint8_t sub_page_ = 0;  // EmailSubPage
};

}  // namespace raid
