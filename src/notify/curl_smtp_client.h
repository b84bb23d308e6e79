// SPDX-License-Identifier: GPL-2.0-or-later
// The SmtpClient on libcurl: the system's on Linux, on Windows the one built from Debian's sources.
//
// TLS: implicit on port 465 (or when asked), otherwise STARTTLS whenever the server offers it.
// With login on, TLS is required before AUTH (CURLUSESSL_ALL): opportunistic STARTTLS would carry
// on in the clear when the server, or someone in between, refuses the upgrade, and the password
// would go out readable. Without login there is nothing secret to protect, so a server without
// STARTTLS still gets the mail. Certificates are verified against the system's store plus the
// account's CA file; a certificate that does not verify ends the session before any command.
//
// Nothing is printed: curl's trace goes to a callback that keeps only the server's reply lines,
// for the error text. The password is never in a URL, an error text or a trace.
#pragma once

#include <atomic>
#include <string>

#include "notify/smtp_client.h"

namespace raid {

class CurlSmtpClient final : public SmtpClient {
 public:
  CurlSmtpClient();
  ~CurlSmtpClient() override = default;

  void SetEventHandler(SmtpEventHandler handler) override;
  bool Connected() const override;
  bool Connect(const SmtpAccount& account, std::string& error) override;
  bool Send(const MailMessage& mail, std::string& error) override;
  void Disconnect() override;
  std::string AcceptedReply() const override { return accepted_reply_; }
  std::vector<RecipientFailure> FailedRecipients() const override { return failed_recipients_; }
  void Cancel() override;

 private:
  void Fire(SmtpEvent event) const;
  // `mail`'s recipients that did not get it, in order: those whose address cannot be used and
  // those the server refused.
  static std::vector<RecipientFailure> RecipientFailures(
      const MailMessage& mail, const std::vector<RecipientFailure>& refused);

  SmtpEventHandler handler_;
  std::atomic<bool> connected_{false};
  SmtpAccount account_;
  std::string ca_certificates_;  // the CA file's content, read at Connect
  std::string accepted_reply_;
  std::vector<RecipientFailure> failed_recipients_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace raid
