// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/push/curl_http_client.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "notify/curl_support.h"
#include "notify/mail_templates.h"
#include "notify/push/push_files.h"

namespace raid {
namespace {

constexpr char kCancelledText[] = "cancelled: the program is stopping";
constexpr std::string_view kCertificateMark = "-----BEGIN CERTIFICATE-----";

// What one exchange shows while curl runs it.
struct Exchange {
  const std::atomic<bool>* cancelled = nullptr;
  bool request_out = false;  // curl has begun to send the request
  std::string body;
  std::optional<std::string> retry_after;
};

std::size_t KeepBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& exchange = *static_cast<Exchange*>(user);
  const std::size_t bytes = size * count;
  const std::size_t room = kHttpReplyKeptBytes - exchange.body.size();
  exchange.body.append(data, std::min(bytes, room));
  return bytes;  // the rest is read and dropped, so that the status still counts
}

bool IsHeader(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || line[name.size()] != ':') return false;
  return std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(a) == lower(b);
  });
}

std::size_t KeepHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& exchange = *static_cast<Exchange*>(user);
  std::string_view line(data, size * count);
  // A new status line starts a new response (after an interim one): its headers count.
  if (line.starts_with("HTTP/")) exchange.retry_after.reset();
  if (IsHeader(line, "retry-after")) {
    line.remove_prefix(12);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
      line.remove_prefix(1);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
      line.remove_suffix(1);
    exchange.retry_after = std::string(line.substr(0, 64));
  }
  return size * count;
}

// The trace tells when the request starts going out; nothing of it is kept or printed.
int WatchRequest(CURL*, curl_infotype type, char*, std::size_t, void* user) {
  if (type == CURLINFO_HEADER_OUT || type == CURLINFO_DATA_OUT)
    static_cast<Exchange*>(user)->request_out = true;
  return 0;
}

// Asked about once a second even while the server is silent: the way to stop an exchange early.
int GoOnUnlessCancelled(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Exchange*>(user)->cancelled->load() ? 1 : 0;
}

HttpReply NotSent(std::string why) {
  HttpReply reply;
  reply.stage = HttpReply::Stage::kNotSent;
  reply.error = std::move(why);
  return reply;
}

// A header line cannot be split by what it carries.
std::string HeaderLine(const std::string& name, const std::string& value) {
  std::string line = name + ": " + value;
  std::replace_if(
      line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return line;
}

}  // namespace

CurlHttpClient::CurlHttpClient() {
  InitCurlOnce();
}

void CurlHttpClient::Cancel() {
  cancelled_ = true;
}

HttpReply CurlHttpClient::Perform(const HttpRequest& request, const HttpOptions& options) {
  if (cancelled_) return NotSent(kCancelledText);
  std::string ca_file = options.ca_file;
  if (const char* from_environment = std::getenv(kNotifyCaFileVariable);
      ca_file.empty() && from_environment != nullptr)
    ca_file = from_environment;
  std::string certificates;
  if (!ca_file.empty()) {
    std::string why;
    if (!ReadPushFile(PathFromUtf8(ca_file), kCaFileMaxBytes, certificates, why))
      return NotSent("cannot read the CA file: " + why);
    if (certificates.find(kCertificateMark) == std::string::npos)
      return NotSent("the CA file " + ca_file + " holds no PEM certificate");
  }

  std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());
  if (!curl) return NotSent("cannot start libcurl");
  CURL* handle = curl.get();
  // No "Expect: 100-continue" and its wait of a second for larger bodies.
  std::vector<std::string> lines = {"Expect:"};
  for (const auto& [name, value] : request.headers)
    lines.push_back(HeaderLine(name, value));
  std::unique_ptr<curl_slist, SlistCleanup> headers;
  for (const std::string& line : lines) {
    curl_slist* longer = curl_slist_append(headers.get(), line.c_str());
    if (longer == nullptr) return NotSent("out of memory");
    headers.release();
    headers.reset(longer);
  }
  const std::string trusted =
      certificates.empty() ? std::string() : TrustedCertificates(handle, certificates);
  curl_blob trusted_blob{const_cast<char*>(trusted.data()), trusted.size(), CURL_BLOB_NOCOPY};
  const long timeout_ms = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(options.timeout).count());

  Exchange exchange;
  exchange.cancelled = &cancelled_;
  char curl_error[CURL_ERROR_SIZE] = {};
  CURLcode status = CURLE_OK;
  Set(handle, CURLOPT_ERRORBUFFER, curl_error, status);
  Set(handle, CURLOPT_URL, request.url.c_str(), status);
  Set(handle, CURLOPT_PROTOCOLS_STR, "http,https", status);
  Set(handle, CURLOPT_FOLLOWLOCATION, 0L, status);
  Set(handle, CURLOPT_NOSIGNAL, 1L, status);
  Set(handle, CURLOPT_SSL_VERIFYPEER, 1L, status);
  Set(handle, CURLOPT_SSL_VERIFYHOST, 2L, status);
  if (!trusted.empty()) Set(handle, CURLOPT_CAINFO_BLOB, &trusted_blob, status);
  Set(handle, CURLOPT_HTTPHEADER, headers.get(), status);
  Set(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()), status);
  Set(handle, CURLOPT_POSTFIELDS, request.body.c_str(), status);
  if (request.method != "POST") Set(handle, CURLOPT_CUSTOMREQUEST, request.method.c_str(), status);
  Set(handle, CURLOPT_TIMEOUT_MS, timeout_ms, status);
  Set(handle, CURLOPT_CONNECTTIMEOUT_MS, timeout_ms, status);
  Set(handle, CURLOPT_WRITEFUNCTION, &KeepBody, status);
  Set(handle, CURLOPT_WRITEDATA, &exchange, status);
  Set(handle, CURLOPT_HEADERFUNCTION, &KeepHeader, status);
  Set(handle, CURLOPT_HEADERDATA, &exchange, status);
  Set(handle, CURLOPT_DEBUGFUNCTION, &WatchRequest, status);
  Set(handle, CURLOPT_DEBUGDATA, &exchange, status);
  Set(handle, CURLOPT_VERBOSE, 1L, status);
  Set(handle, CURLOPT_XFERINFOFUNCTION, &GoOnUnlessCancelled, status);
  Set(handle, CURLOPT_XFERINFODATA, &exchange, status);
  Set(handle, CURLOPT_NOPROGRESS, 0L, status);
  if (status != CURLE_OK)
    return NotSent(std::string("cannot set up libcurl: ") + curl_easy_strerror(status));

  const CURLcode result = curl_easy_perform(handle);
  long code = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code);
  HttpReply reply;
  reply.body = std::move(exchange.body);
  reply.retry_after = std::move(exchange.retry_after);
  if (code > 0) {
    // A status line came: the server has decided, even if the rest of its reply did not.
    reply.stage = HttpReply::Stage::kAnswered;
    reply.status = static_cast<int>(code);
    return reply;
  }
  reply.error = result == CURLE_ABORTED_BY_CALLBACK ? kCancelledText
                : curl_error[0] != '\0'             ? curl_error
                                                    : curl_easy_strerror(result);
  reply.stage = exchange.request_out ? HttpReply::Stage::kNoAnswer : HttpReply::Stage::kNotSent;
  return reply;
}

}  // namespace raid
