// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/curl_smtp_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "common/platform_files.h"
#include "common/text_helpers.h"
#include "notify/curl_support.h"
#include "notify/mail_entry_checks.h"

namespace raid {
namespace {

constexpr unsigned kDefaultTimeoutSeconds = 30;
constexpr std::uint16_t kSmtpsPort = 465;
constexpr const char* kCaFileVariable = "RAIDGUI_SMTP_CA_FILE";
constexpr std::size_t kMaxReplyShown = 200;
constexpr std::string_view kUnusableAddressText = "not a usable address";

// A host name or address literal that cannot change the meaning of the URL it goes into; an IPv6
// address comes in brackets, as the URL needs it.
bool IsUsableHost(std::string_view host) {
  return !HostEntryProblem(host) && host.find('%') == std::string_view::npos &&
         host.find('\\') == std::string_view::npos;
}

std::string Url(const SmtpAccount& account) {
  const bool implicit = account.tls_start == SmtpTlsStart::kImplicit ||
                        (account.tls_start == SmtpTlsStart::kByPort && account.port == kSmtpsPort);
  return std::string(implicit ? "smtps://" : "smtp://") + account.host + ":" +
         std::to_string(account.port);
}

// What one session shows while curl runs it.
struct Session {
  const std::string* message = nullptr;
  std::size_t sent = 0;
  std::function<void()> on_data_start;
  const std::atomic<bool>* cancelled = nullptr;
  bool data_started = false;
  std::string partial_reply;
  std::string last_reply;
  bool starttls_offered = false;
  std::string offered_mechanisms;  // the words after AUTH in the server's EHLO reply
  bool auth_sent = false;
  std::string auth_mechanism;     // the one AUTH named
  std::string awaited_recipient;  // a RCPT went out and its reply is due
  std::vector<RecipientFailure> refused;
  bool quitting = false;
};

std::size_t ReadMessage(char* buffer, std::size_t size, std::size_t count, void* user) {
  auto& session = *static_cast<Session*>(user);
  // curl asks for the data only after the server's 354 to DATA.
  if (!session.data_started) {
    session.data_started = true;
    session.on_data_start();
  }
  const std::size_t n = std::min(size * count, session.message->size() - session.sent);
  std::memcpy(buffer, session.message->data() + session.sent, n);
  session.sent += n;
  return n;
}

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
  return upper;
}

// The keyword of an EHLO reply line ("250-STARTTLS", "250 AUTH PLAIN LOGIN") in capitals, and
// what follows it.
bool IsEhloKeyword(std::string_view line, std::string_view keyword, std::string* rest = nullptr) {
  if (line.size() < 4 + keyword.size() || line.substr(0, 3) != "250") return false;
  const std::string_view after = line.substr(4);
  if (UpperCase(after.substr(0, keyword.size())) != keyword) return false;
  if (after.size() > keyword.size() && after[keyword.size()] != ' ') return false;
  if (rest != nullptr)
    *rest = std::string(after.substr(std::min(after.size(), keyword.size() + 1)));
  return true;
}

int ReplyCode(std::string_view reply) {
  if (reply.size() < 3) return 0;
  int code = 0;
  for (char c : reply.substr(0, 3)) {
    if (c < '0' || c > '9') return 0;
    code = code * 10 + (c - '0');
  }
  return code;
}

// The last line of a reply: "250 OK", not "250-PIPELINING".
bool IsLastReplyLine(std::string_view line) {
  return ReplyCode(line) != 0 && (line.size() == 3 || line[3] == ' ');
}

// What a server or a stored setting says, fit for a message: short, and no control byte.
std::string Printable(std::string_view text) {
  return DeviceText(text.substr(0, kMaxReplyShown));
}

// The address in "RCPT TO:<address>".
std::string RecipientOf(std::string_view command) {
  const std::size_t open = command.find('<');
  const std::size_t close = command.find('>', open);
  if (open == std::string_view::npos || close == std::string_view::npos) return "?";
  return std::string(command.substr(open + 1, close - open - 1));
}

void HeardLine(Session& session, std::string line) {
  std::string mechanisms;
  if (IsEhloKeyword(line, "STARTTLS")) session.starttls_offered = true;
  if (IsEhloKeyword(line, "AUTH", &mechanisms)) session.offered_mechanisms = Printable(mechanisms);
  if (!session.awaited_recipient.empty() && IsLastReplyLine(line)) {
    if (ReplyCode(line) >= 300)
      session.refused.push_back({session.awaited_recipient, Printable(line)});
    session.awaited_recipient.clear();
  }
  session.last_reply = std::move(line);
}

// Sees curl's trace and keeps only what the server said, with which command each reply answers:
// the commands themselves (with AUTH's base64 password) and the data never leave curl. The reply
// to QUIT, which curl sends after a failure too, would hide the reply that explains the failure.
int KeepReplies(CURL*, curl_infotype type, char* data, std::size_t size, void* user) {
  auto& session = *static_cast<Session*>(user);
  if (type == CURLINFO_HEADER_OUT) {
    const std::string_view command(data, size);
    if (command.starts_with("QUIT")) session.quitting = true;
    if (command.starts_with("AUTH ")) {
      session.auth_sent = true;
      const std::string_view rest = command.substr(5);
      session.auth_mechanism = std::string(rest.substr(0, rest.find_first_of(" \r\n")));
    }
    if (command.starts_with("RCPT TO:")) session.awaited_recipient = RecipientOf(command);
  }
  if (type != CURLINFO_HEADER_IN || session.quitting) return 0;
  session.partial_reply.append(data, size);
  for (std::size_t end; (end = session.partial_reply.find('\n')) != std::string::npos;) {
    std::string line = session.partial_reply.substr(0, end);
    session.partial_reply.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    HeardLine(session, std::move(line));
  }
  return 0;
}

// Asked about once a second even while the server is silent: the way to stop a session early.
int GoOnUnlessCancelled(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto& session = *static_cast<Session*>(user);
  return session.cancelled->load() ? 1 : 0;
}

std::string FailureList(const std::vector<RecipientFailure>& failures) {
  std::string list;
  for (const RecipientFailure& failure : failures)
    list += (list.empty() ? "" : ", ") + failure.address + " (" + failure.reason + ")";
  return list;
}

void ReplaceAll(std::string& text, std::string_view what, std::string_view with) {
  if (what.empty()) return;
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += with.size())
    text.replace(at, what.size(), with);
}

// A server may echo what it was sent; the password stays out of anything we show.
std::string WithoutPassword(std::string text, const std::string& password) {
  ReplaceAll(text, password, "***");
  ReplaceAll(text, EncodeBase64(password), "***");
  return text;
}

std::string FailureText(const SmtpAccount& account, CURLcode code, const char* curl_error,
                        const Session& session) {
  std::string detail = curl_error[0] != '\0' ? curl_error : curl_easy_strerror(code);
  if (code == CURLE_USE_SSL_FAILED && !session.starttls_offered)
    detail = "the server does not offer STARTTLS, and the password is only sent encrypted";
  if (code == CURLE_LOGIN_DENIED) {
    // curl says "Login denied" also when it found no mechanism to try.
    detail = session.auth_sent
                 ? "Login denied: the server refused the account or password"
                 : "the server offers no login method this program knows (it offers " +
                       (session.offered_mechanisms.empty() ? std::string("none")
                                                           : session.offered_mechanisms) +
                       ")";
  }
  // 504 to AUTH: the method is not supported there, which says nothing of the password.
  if (session.auth_sent && ReplyCode(session.last_reply) == 504) {
    detail = "the server does not support that login method (" + session.auth_mechanism + ")";
  }
  if (code == CURLE_ABORTED_BY_CALLBACK) detail = "sending was cancelled: the program is stopping";
  if (ReplyCode(session.last_reply) >= 400)
    detail += "; the server answered \"" + Printable(session.last_reply) + "\"";
  return WithoutPassword(
      "SMTP server " + account.host + ":" + std::to_string(account.port) + ": " + detail,
      account.password);
}

}  // namespace

CurlSmtpClient::CurlSmtpClient() {
  InitCurlOnce();
}

void CurlSmtpClient::SetEventHandler(SmtpEventHandler handler) {
  handler_ = std::move(handler);
}

bool CurlSmtpClient::Connected() const {
  return connected_;
}

void CurlSmtpClient::Fire(SmtpEvent event) const {
  if (handler_) handler_(event);
}

bool CurlSmtpClient::Connect(const SmtpAccount& account, std::string& error) {
  if (connected_) {
    error = "already connected";
    return false;
  }
  if (account.host.empty()) {
    error = "no SMTP server is set";
    return false;
  }
  if (!IsUsableHost(account.host)) {
    error = "the SMTP server name \"" + Printable(account.host) + "\" is not valid";
    return false;
  }
  if (account.port == 0) {
    error = "the SMTP port 0 is not valid";
    return false;
  }
  if (account.login && account.user.empty()) {
    error = "login is on but no account name is set";
    return false;
  }
  std::string ca_file = account.ca_file;
  if (const char* from_environment = std::getenv(kCaFileVariable);
      ca_file.empty() && from_environment != nullptr)
    ca_file = from_environment;
  std::string certificates;
  if (!ca_file.empty()) {
    std::string why;
    if (!ReadRegularFile(ca_file, certificates, why, kCertificateFileMaxBytes)) {
      error = "cannot read the CA file: " + why;
      return false;
    }
    if (certificates.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
      error = "the CA file " + ca_file + " holds no PEM certificate";
      return false;
    }
  }
  account_ = account;
  ca_certificates_ = std::move(certificates);
  connected_ = true;
  Fire(SmtpEvent::kConnected);
  return true;
}

bool CurlSmtpClient::Send(const MailMessage& mail, std::string& error) {
  if (!connected_) {
    error = "not connected";
    return false;
  }
  if (!IsUsableMailAddress(mail.from_address)) {
    error = "the sender address \"" + Printable(mail.from_address) + "\" is not valid";
    return false;
  }
  failed_recipients_.clear();
  if (mail.recipients.empty()) {
    error = "the mail has no recipient";
    return false;
  }
  if (cancelled_) {
    error = "sending was cancelled: the program is stopping";
    return false;
  }
  // An address that would break the envelope is left out; the others still get the mail.
  MailMessage sendable = mail;
  sendable.recipients.clear();
  std::unique_ptr<curl_slist, SlistCleanup> recipients;
  for (const std::string& recipient : mail.recipients) {
    if (!IsUsableMailAddress(recipient)) continue;
    curl_slist* longer = curl_slist_append(recipients.get(), ("<" + recipient + ">").c_str());
    if (longer == nullptr) {
      error = "out of memory";
      return false;
    }
    recipients.release();
    recipients.reset(longer);
    sendable.recipients.push_back(recipient);
  }
  if (sendable.recipients.empty()) {
    failed_recipients_ = RecipientFailures(mail, {});
    error = "no recipient address can be used: " + FailureList(failed_recipients_);
    return false;
  }

  const std::string message = ComposeMailMessage(sendable, std::chrono::system_clock::now());
  // Declared before the handle: curl still reports replies (to QUIT) while it is cleaned up.
  Session session;
  session.message = &message;
  session.on_data_start = [this] { Fire(SmtpEvent::kWorkBegin); };
  session.cancelled = &cancelled_;
  std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());
  if (!curl) {
    error = "cannot start libcurl";
    return false;
  }
  char curl_error[CURL_ERROR_SIZE] = {};
  const long timeout = account_.timeout_seconds == 0 ? kDefaultTimeoutSeconds
                                                     : static_cast<long>(account_.timeout_seconds);
  const std::string url = Url(account_);
  const std::string from = "<" + mail.from_address + ">";
  const std::string trusted =
      ca_certificates_.empty() ? std::string() : TrustedCertificates(curl.get(), ca_certificates_);
  curl_blob trusted_blob{const_cast<char*>(trusted.data()), trusted.size(), CURL_BLOB_NOCOPY};

  CURL* handle = curl.get();
  CURLcode status = CURLE_OK;
  Set(handle, CURLOPT_ERRORBUFFER, curl_error, status);
  Set(handle, CURLOPT_URL, url.c_str(), status);
  Set(handle, CURLOPT_PROTOCOLS_STR, "smtp,smtps", status);
  // Straight to the server, whatever proxy the environment names.
  Set(handle, CURLOPT_PROXY, "", status);
  Set(handle, CURLOPT_NOSIGNAL, 1L, status);
  Set(handle, CURLOPT_USE_SSL,
      account_.login ? static_cast<long>(CURLUSESSL_ALL) : static_cast<long>(CURLUSESSL_TRY),
      status);
  Set(handle, CURLOPT_SSL_VERIFYPEER, 1L, status);
  Set(handle, CURLOPT_SSL_VERIFYHOST, 2L, status);
  if (!trusted.empty()) Set(handle, CURLOPT_CAINFO_BLOB, &trusted_blob, status);
  if (account_.login) {
    // Any mechanism the server offers and curl knows; TLS is already required above.
    Set(handle, CURLOPT_USERNAME, account_.user.c_str(), status);
    Set(handle, CURLOPT_PASSWORD, account_.password.c_str(), status);
  }
  Set(handle, CURLOPT_MAIL_FROM, from.c_str(), status);
  Set(handle, CURLOPT_MAIL_RCPT, recipients.get(), status);
  // A refused recipient leaves the rest of the envelope standing (curl's spelling until 8.2).
  Set(handle, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L, status);
  Set(handle, CURLOPT_UPLOAD, 1L, status);
  Set(handle, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()), status);
  Set(handle, CURLOPT_READFUNCTION, &ReadMessage, status);
  Set(handle, CURLOPT_READDATA, &session, status);
  Set(handle, CURLOPT_CONNECTTIMEOUT, timeout, status);
  Set(handle, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout, status);
  Set(handle, CURLOPT_LOW_SPEED_LIMIT, 1L, status);
  Set(handle, CURLOPT_LOW_SPEED_TIME, timeout, status);
  // The trace goes to KeepReplies only; nothing reaches stderr.
  Set(handle, CURLOPT_DEBUGFUNCTION, &KeepReplies, status);
  Set(handle, CURLOPT_DEBUGDATA, &session, status);
  Set(handle, CURLOPT_VERBOSE, 1L, status);
  Set(handle, CURLOPT_XFERINFOFUNCTION, &GoOnUnlessCancelled, status);
  Set(handle, CURLOPT_XFERINFODATA, &session, status);
  Set(handle, CURLOPT_NOPROGRESS, 0L, status);
  if (status != CURLE_OK) {
    error = std::string("cannot set up libcurl: ") + curl_easy_strerror(status);
    return false;
  }

  accepted_reply_.clear();
  const CURLcode result = curl_easy_perform(handle);
  failed_recipients_ = RecipientFailures(mail, session.refused);
  if (result != CURLE_OK) {
    error = session.refused.size() == sendable.recipients.size()
                ? WithoutPassword(
                      "SMTP server " + account_.host + ":" + std::to_string(account_.port) +
                          ": no recipient accepted the mail: " + FailureList(failed_recipients_),
                      account_.password)
                : FailureText(account_, result, curl_error, session);
    return false;
  }
  accepted_reply_ = Printable(session.last_reply);
  Fire(SmtpEvent::kWorkEnd);
  return true;
}

void CurlSmtpClient::Cancel() {
  cancelled_ = true;
}

std::vector<RecipientFailure> CurlSmtpClient::RecipientFailures(
    const MailMessage& mail, const std::vector<RecipientFailure>& refused) {
  std::vector<RecipientFailure> failures;
  for (const std::string& recipient : mail.recipients) {
    if (!IsUsableMailAddress(recipient)) {
      failures.push_back({Printable(recipient), std::string(kUnusableAddressText)});
      continue;
    }
    const auto by_server = std::find_if(refused.begin(), refused.end(), [&](const auto& failure) {
      return failure.address == recipient;
    });
    if (by_server != refused.end()) failures.push_back(*by_server);
  }
  return failures;
}

void CurlSmtpClient::Disconnect() {
  if (!connected_.exchange(false)) return;
  Fire(SmtpEvent::kDisconnected);
}

}  // namespace raid
