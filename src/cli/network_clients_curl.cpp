// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl's SMTP and HTTP clients where the build has libcurl.
#include "cli/cli_mail.h"
#include "cli/notify_command.h"
#include "notify/curl_smtp_client.h"
#include "notify/push/curl_http_client.h"

namespace raid::cli {

std::unique_ptr<SmtpClient> MakeSmtpClient(std::string&) {
  return std::make_unique<CurlSmtpClient>();
}

HttpClientFactory MakeHttpClientFactory(std::string&) {
  return [] { return std::make_unique<CurlHttpClient>(); };
}

}  // namespace raid::cli
