// SPDX-License-Identifier: GPL-2.0-or-later
// The SMTP client the alert sender talks to: connect, send, disconnect, and the four events whose
// state the sender polls (connected, disconnected, work begin, work end).
//
// The libcurl client runs a whole SMTP session in one call, so the calls map onto it like this:
// - Connect checks and records the account and fires kConnected; it does not touch the network.
// - Send runs the session: connect, EHLO, STARTTLS, AUTH, MAIL FROM, RCPT TO for each recipient,
//   DATA, the message, QUIT. kWorkBegin fires when the message data starts going out (after the
//   server's 354), kWorkEnd only once the server has accepted the message (its 250 to the final
//   "."). Any failure before that returns false with the reason, and kWorkEnd does not fire. A
//   recipient the server refuses, or whose address cannot be used, is left out and named in
//   FailedRecipients; the others still get the mail.
// - Disconnect fires kDisconnected when connected.
// Events fire on the calling thread, inside the call; a handler must not call back into the client.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "notify/mail_message.h"

namespace raid {

enum class SmtpEvent : std::uint8_t { kConnected, kDisconnected, kWorkBegin, kWorkEnd };

using SmtpEventHandler = std::function<void(SmtpEvent)>;

// How the TLS session starts.
enum class SmtpTlsStart : std::uint8_t {
  kByPort,    // from the first byte on port 465 (SMTPS), by STARTTLS on any other port
  kImplicit,  // from the first byte, whatever the port
};

// A recipient the last Send did not reach, and why: the server's reply to its RCPT, or that the
// address cannot go into an SMTP envelope.
struct RecipientFailure {
  std::string address;
  std::string reason;
  bool operator==(const RecipientFailure&) const = default;
};

struct SmtpAccount {
  std::string host;
  std::uint16_t port = 25;
  // AUTH with `user` and `password`, by whichever mechanism the server offers that the client
  // knows (PLAIN, LOGIN, CRAM-MD5...). A password only ever goes over TLS: a server that does not
  // offer STARTTLS (or refuses it) gets no credentials and no mail.
  bool login = false;
  std::string user;
  std::string password;
  // For connecting and for each wait on the server; 0 means 30.
  unsigned timeout_seconds = 0;
  // PEM certificates trusted in addition to the system's store; when empty, the file named by
  // RAIDGUI_SMTP_CA_FILE, if set.
  std::string ca_file;
  SmtpTlsStart tls_start = SmtpTlsStart::kByPort;
};

class SmtpClient {
 public:
  virtual ~SmtpClient() = default;

  virtual void SetEventHandler(SmtpEventHandler handler) = 0;
  // True from a successful Connect until Disconnect, also after a failed Send.
  virtual bool Connected() const = 0;
  // False, with the reason in `error`, when already connected or the account cannot be used.
  virtual bool Connect(const SmtpAccount& account, std::string& error) = 0;
  // True once the server has accepted the message for at least one recipient; FailedRecipients
  // names the others. Otherwise false with a reason fit to show the user (never the password); the
  // server did not confirm the message.
  virtual bool Send(const MailMessage& mail, std::string& error) = 0;
  virtual void Disconnect() = 0;
  // The server's reply to the message of the last successful Send ("250 OK queued as ..."), for
  // a person to read; empty when none was kept.
  virtual std::string AcceptedReply() const { return {}; }
  // The recipients of the last Send that did not get the mail, in the mail's order.
  virtual std::vector<RecipientFailure> FailedRecipients() const { return {}; }
  // From any thread: a Send under way gives up within about a second, and every later one fails
  // at once. For a program that is stopping.
  virtual void Cancel() {}
};

}  // namespace raid
