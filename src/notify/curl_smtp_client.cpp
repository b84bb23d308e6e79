#include "notify/curl_smtp_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

#include "common/platform_files.h"

namespace raid {
namespace {

constexpr unsigned kDefaultTimeoutSeconds = 30;
constexpr std::uint16_t kSmtpsPort = 465;
constexpr const char* kCaFileVariable = "RAIDGUI_SMTP_CA_FILE";
constexpr std::size_t kMaxReplyShown = 200;
// The system's bundle is a few hundred kilobytes; a file far beyond that is not certificates.
constexpr std::uintmax_t kCertificateFileMaxBytes = 16 * 1024 * 1024;

// curl_global_init is not safe to race with other curl calls; once, before the first handle.
void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// A host name or address literal that cannot change the meaning of the URL it goes into.
bool IsUsableHost(std::string_view host) {
  static constexpr std::string_view kRefused = "/?#@[]\\%";
  if (host.empty()) return false;
  for (char c : host)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F ||
        kRefused.find(c) != std::string_view::npos)
      return false;
  return true;
}

std::string Url(const SmtpAccount& account) {
  const bool implicit = account.tls_start == SmtpTlsStart::kImplicit ||
                        (account.tls_start == SmtpTlsStart::kByPort && account.port == kSmtpsPort);
  // An IPv6 literal needs brackets in a URL.
  const bool ipv6 = account.host.find(':') != std::string::npos;
  return std::string(implicit ? "smtps://" : "smtp://") + (ipv6 ? "[" : "") + account.host +
         (ipv6 ? "]" : "") + ":" + std::to_string(account.port);
}

// What one session shows while curl runs it.
struct Session {
  const std::string* message = nullptr;
  std::size_t sent = 0;
  std::function<void()> on_data_start;
  bool data_started = false;
  std::string partial_reply;
  std::string last_reply;
  bool starttls_offered = false;
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

bool IsStartTlsOffer(std::string_view line) {
  if (line.size() != 12 || line.substr(0, 3) != "250") return false;
  std::string keyword(line.substr(4));
  std::transform(keyword.begin(), keyword.end(), keyword.begin(),
                 [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
  return keyword == "STARTTLS";
}

// Sees curl's trace and keeps only what the server said: commands (with AUTH's base64 password)
// and data never leave curl. The reply to QUIT, which curl sends after a failure too, would hide
// the reply that explains the failure.
int KeepReplies(CURL*, curl_infotype type, char* data, std::size_t size, void* user) {
  auto& session = *static_cast<Session*>(user);
  if (type == CURLINFO_HEADER_OUT && std::string_view(data, size).starts_with("QUIT"))
    session.quitting = true;
  if (type != CURLINFO_HEADER_IN || session.quitting) return 0;
  session.partial_reply.append(data, size);
  for (std::size_t end; (end = session.partial_reply.find('\n')) != std::string::npos;) {
    std::string line = session.partial_reply.substr(0, end);
    session.partial_reply.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (IsStartTlsOffer(line)) session.starttls_offered = true;
    session.last_reply = std::move(line);
  }
  return 0;
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

std::string Printable(std::string_view text) {
  std::string shown(text.substr(0, kMaxReplyShown));
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return shown;
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
  if (ReplyCode(session.last_reply) >= 400)
    detail += "; the server answered \"" + Printable(session.last_reply) + "\"";
  return WithoutPassword(
      "SMTP server " + account.host + ":" + std::to_string(account.port) + ": " + detail,
      account.password);
}

// The system's CA bundle followed by ours: curl takes a CA blob instead of its default bundle
// file, and the system's certificates must stay trusted.
std::string TrustedCertificates(CURL* curl, const std::string& ours) {
  std::string bundle;
  char* system_bundle = nullptr;
  std::string ignored;
  if (curl_easy_getinfo(curl, CURLINFO_CAINFO, &system_bundle) == CURLE_OK &&
      system_bundle != nullptr)
    ReadRegularFile(system_bundle, bundle, ignored, kCertificateFileMaxBytes);
  if (!bundle.empty() && bundle.back() != '\n') bundle += '\n';
  return bundle + ours;
}

template <typename Value>
void Set(CURL* curl, CURLoption option, Value value, CURLcode& status) {
  if (status == CURLE_OK) status = curl_easy_setopt(curl, option, value);
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
  if (mail.recipients.empty()) {
    error = "the mail has no recipient";
    return false;
  }
  std::unique_ptr<curl_slist, SlistCleanup> recipients;
  for (const std::string& recipient : mail.recipients) {
    if (!IsUsableMailAddress(recipient)) {
      error = "the recipient address \"" + Printable(recipient) + "\" is not valid";
      return false;
    }
    curl_slist* longer = curl_slist_append(recipients.get(), ("<" + recipient + ">").c_str());
    if (longer == nullptr) {
      error = "out of memory";
      return false;
    }
    recipients.release();
    recipients.reset(longer);
  }

  const std::string message = ComposeMailMessage(mail, std::chrono::system_clock::now());
  // Declared before the handle: curl still reports replies (to QUIT) while it is cleaned up.
  Session session;
  session.message = &message;
  session.on_data_start = [this] { Fire(SmtpEvent::kWorkBegin); };
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
    Set(handle, CURLOPT_USERNAME, account_.user.c_str(), status);
    Set(handle, CURLOPT_PASSWORD, account_.password.c_str(), status);
    Set(handle, CURLOPT_LOGIN_OPTIONS, "AUTH=LOGIN", status);
  }
  Set(handle, CURLOPT_MAIL_FROM, from.c_str(), status);
  Set(handle, CURLOPT_MAIL_RCPT, recipients.get(), status);
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
  if (status != CURLE_OK) {
    error = std::string("cannot set up libcurl: ") + curl_easy_strerror(status);
    return false;
  }

  accepted_reply_.clear();
  const CURLcode result = curl_easy_perform(handle);
  if (result != CURLE_OK) {
    error = FailureText(account_, result, curl_error, session);
    return false;
  }
  accepted_reply_ = Printable(session.last_reply);
  Fire(SmtpEvent::kWorkEnd);
  return true;
}

void CurlSmtpClient::Disconnect() {
  if (!connected_.exchange(false)) return;
  Fire(SmtpEvent::kDisconnected);
}

}  // namespace raid
