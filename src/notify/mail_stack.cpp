// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/mail_stack.h"

#include "sysinfo/host_info.h"

namespace raid {

MailStack::MailStack(const EnclosureRegistry& registry, const StatusRecords& records,
                     std::atomic<std::uint8_t>& flags, UiSink& ui, Clock& clock,
                     MailStackSources sources)
    : sources_(std::move(sources)),
      backend_(sources_.settings_backend ? sources_.settings_backend()
                                         : MakePlatformSettingsBackend()),
      store_(*backend_, flags) {
  if (sources_.smtp_client) client_ = sources_.smtp_client(no_mailer_reason_);
  if (!client_ && no_mailer_reason_.empty()) no_mailer_reason_ = "no SMTP client";
  if (client_) {
    mailer_ = std::make_unique<AlertMailer>(store_, *client_, registry, records, flags, ui, clock);
  }
}

void MailStack::DescribeHost() {
  if (!mailer_) return;
  mailer_->SetSystemInfoLines(sources_.system_info ? sources_.system_info()
                                                   : BuildSystemInfo(CreatePlatformHostInfo()));
}

}  // namespace raid
