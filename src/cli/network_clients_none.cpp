// SPDX-License-Identifier: GPL-2.0-or-later
// A build without libcurl: raidctl keeps the mail settings and reads notify.toml, but sends
// nothing.
#include "cli/cli_mail.h"
#include "cli/notify_command.h"

namespace raid::cli {

std::unique_ptr<SmtpClient> MakeSmtpClient(std::string& why) {
  why = "this build of raidctl cannot send mail (it has no SMTP library)";
  return nullptr;
}

HttpClientFactory MakeHttpClientFactory(std::string& why) {
  why = "this build of raidctl cannot send push notifications (it has no HTTP library)";
  return {};
}

}  // namespace raid::cli
