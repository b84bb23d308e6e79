// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl's SMTP client where the build has libcurl.
#include "cli/cli_mail.h"
#include "notify/curl_smtp_client.h"

namespace raid::cli {

std::unique_ptr<SmtpClient> MakeSmtpClient(std::string&) {
  return std::make_unique<CurlSmtpClient>();
}

}  // namespace raid::cli
