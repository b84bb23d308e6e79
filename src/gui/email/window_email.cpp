// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui/email/window_email.h"

#include "gui/email/email_page.h"
#include "gui/widgets/guarded_slot.h"

namespace raid {

WindowEmail::WindowEmail(QWidget* window, EmailPage* page, MailStack& mail)
    : window_(window), page_(page), mail_(mail) {
  QObject::connect(page_, &EmailPage::SubPageClicked, window,
                   Guarded(window, this, &WindowEmail::ShowSubPage));
  QObject::connect(page_, &EmailPage::OkClicked, window,
                   Guarded(window, this, &WindowEmail::OkClick));
  QObject::connect(page_, &EmailPage::IgnoreClicked, window,
                   Guarded(window, this, &WindowEmail::IgnoreClick));
  QObject::connect(page_, &EmailPage::TestClicked, window,
                   Guarded(window, this, &WindowEmail::TestClick));
  page_->ShowSubPage(0);
}

void WindowEmail::ShowSubPage(unsigned sub_page) {
  sub_page_ = static_cast<std::uint8_t>(sub_page);
  page_->ShowSubPage(sub_page);
}

void WindowEmail::Open() {
  page_->Open(mail_.store().Snapshot());
  page_->ShowSubPage(sub_page_);
}

void WindowEmail::OkClick() {
  const MailSettingsEdits edits = page_->PrepareOk();
  if (const std::optional<std::string> problem =
          mail_.store().Save(edits, page_->SettingsChangedMask())) {
    // The edits stay marked as unsaved: OK tries again, Ignore drops them, Test waits.
    ui::ShowMessageBox(window_, {kMailMessageCaption, *problem, MessageIcon::kWarning});
    return;
  }
  page_->ClearSettingsChangedMask();
}

void WindowEmail::IgnoreClick() {
  page_->Ignore(mail_.store().Snapshot());
  page_->ShowSubPage(sub_page_);
}

void WindowEmail::TestClick() {
  mail_.mailer()->RequestTestMail(page_->SettingsChangedMask());
}

}  // namespace raid
