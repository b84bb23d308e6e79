// SPDX-License-Identifier: GPL-2.0-or-later
// The alert mail pieces, built in one place for the window and for raidctl: the settings store
// on its backend, the SMTP client, and the mailer around the enclosures the alerts are about.
// Where each part comes from can be chosen (the tests' folders and servers); what is not chosen
// is the platform's.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "notify/alert_mailer.h"
#include "notify/mail_settings.h"
#include "notify/settings_backend.h"
#include "notify/smtp_client.h"

namespace raid {

struct MailStackSources {
  // The settings' store: the platform's (the registry key, or settings.toml) when empty.
  std::function<std::unique_ptr<SettingsBackend>()> settings_backend;
  // The client mails go out through; it may give none, with the reason, where the build has no
  // SMTP library. Without one the settings are kept and nothing is sent.
  std::function<std::unique_ptr<SmtpClient>(std::string& why)> smtp_client;
  // The host description's five lines: this host's when empty.
  std::function<std::vector<std::string>()> system_info;
};

class MailStack {
 public:
  // `flags` are the mail requests the store and the mailer share; `ui` is where the mailer's
  // messages go.
  MailStack(const EnclosureRegistry& registry, const StatusRecords& records,
            std::atomic<std::uint8_t>& flags, UiSink& ui, Clock& clock, MailStackSources sources);
  MailStack(const MailStack&) = delete;
  MailStack& operator=(const MailStack&) = delete;

  SettingsBackend& backend() { return *backend_; }
  MailSettingsStore& store() { return store_; }
  // Empty when the build cannot send mail; no_mailer_reason() says why.
  AlertMailer* mailer() { return mailer_.get(); }
  const std::string& no_mailer_reason() const { return no_mailer_reason_; }

  // Gives the mailer the lines about this host that every mail carries. Describing the host can
  // take seconds (a stuck WMI service): done once, when the caller is ready to wait for it.
  void DescribeHost();

 private:
  MailStackSources sources_;
  std::unique_ptr<SettingsBackend> backend_;
  MailSettingsStore store_;
  std::unique_ptr<SmtpClient> client_;
  std::unique_ptr<AlertMailer> mailer_;
  std::string no_mailer_reason_;
};

}  // namespace raid
