// SPDX-License-Identifier: GPL-2.0-or-later
// The Windows cross build has no SMTP library: raidctl keeps the mail settings but sends nothing.
#include "cli/cli_mail.h"

namespace raid::cli {

std::unique_ptr<SmtpClient> MakeSmtpClient(std::string& why) {
  why = "this build of raidctl cannot send mail (it has no SMTP library)";
  return nullptr;
}

}  // namespace raid::cli
