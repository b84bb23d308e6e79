// SPDX-License-Identifier: GPL-2.0-or-later
// The alert mail pieces a raidctl command works with (the platform's settings store, the SMTP
// client and the mailer) around the monitoring core's registry and status records when there is
// one. One thread (raidctl's loop) does everything, so the mailer writes straight to the terminal.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "cli/cli_options.h"
#include "cli/console_ui_sink.h"
#include "notify/mail_stack.h"

namespace raid::cli {

// The SMTP client of this build, or none where the build has no SMTP library (the Windows cross
// build); `why` then says so.
std::unique_ptr<SmtpClient> MakeSmtpClient(std::string& why);

class CliMail {
 public:
  // `registry` and `records` describe the enclosures the alerts are about; the mail commands
  // that mail no alert pass empty ones.
  CliMail(const EnclosureRegistry& registry, const StatusRecords& records, Clock& clock,
          UiSink& ui);

  SettingsBackend& backend() { return stack_.backend(); }
  MailSettingsStore& store() { return stack_.store(); }
  std::atomic<std::uint8_t>& flags() { return flags_; }
  // Empty when this build cannot send mail (see MakeSmtpClient).
  AlertMailer* mailer() { return stack_.mailer(); }
  const std::string& no_mailer_reason() const { return stack_.no_mailer_reason(); }
  void DescribeHost() { stack_.DescribeHost(); }

  // The start-up check and, when there are settings, their load; problems go to stderr. True
  // when settings are loaded.
  bool LoadSettings();
  // LoadSettings again, for a monitor that runs on: settings removed since are no longer used.
  bool ReloadSettings();

 private:
  std::atomic<std::uint8_t> flags_{0};
  MailStack stack_;
};

// `raidctl mail-setup`, `mail-show` and `mail-test`.
int RunMailSetupCommand(const MailSetupOptions& options);
int RunMailShowCommand(bool json);
int RunMailTestCommand(bool verbose);

}  // namespace raid::cli
