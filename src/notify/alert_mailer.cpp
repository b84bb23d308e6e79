// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/alert_mailer.h"

#include <utility>

#include "common/decimal_text.h"
#include "common/product.h"
#include "common/text_helpers.h"
#include "notify/mail_templates.h"
#include "status/device_information.h"

namespace raid {
namespace {

constexpr std::uint32_t kSmtpWaitMs = 500;
constexpr int kSmtpPasses = 20;

std::string FirstLine(AlertKind kind, const std::string& device, unsigned port) {
  switch (kind) {
    case AlertKind::kHardDisksFail:
      return device + " P" + std::to_string(port) + " Hard Disk Drive fail.";
    case AlertKind::kDeviceRemoved:
      return device + " RAID system fail.";
    case AlertKind::kOverHeat:
      return device + " over heat.";
    case AlertKind::kFanFail:
      return device + " fan fail.";
  }
  return device;
}

void AddDriveLines(std::vector<std::string>& lines, AlertKind kind, const ControllerStatus& record,
                   unsigned drive) {
  const std::string hdd = "HDD" + std::to_string(drive + 1);
  const std::uint8_t state = record.DriveState(drive);
  switch (state) {
    case kDriveAbsent:
      lines.push_back("  " + hdd + " is absent. ");
      break;
    case kDrivePresent:
      lines.push_back("  " + hdd + " is present.(SATA" + LinkSpeedName(record.LinkSpeed(drive)) +
                      ")");
      break;
    case kDriveFailed:
      lines.push_back("  " + hdd + " was failed, Capacity too small.");
      break;
    case kDriveInserted:
      lines.push_back(hdd + " was inserted.");
      break;
    default:
      break;
  }
  if (kind == AlertKind::kHardDisksFail || state == kDrivePresent || state == kDriveFailed) {
    lines.push_back("    Model no.: " + record.DriveModel(drive));
    lines.push_back(SerialLineText("    Serial no.: ", record, drive));
    lines.push_back("    Capacity : " + CapacityWithSectors(record.DriveCapacity(drive)));
  }
}

}  // namespace

std::vector<std::string> AlertInfoLines(AlertKind kind, unsigned enclosure_index, unsigned port,
                                        const IdentificationBlock& identification,
                                        const ControllerStatus& record) {
  const std::string device = "Device" + std::to_string(enclosure_index + 1);
  std::vector<std::string> lines;
  lines.push_back(FirstLine(kind, device, port));
  lines.push_back(device + " information :");
  lines.push_back("Model# " + ModelText(identification, kIdModelText));
  lines.push_back(ModeName(record.Mode()) + ", F/W Rev. " +
                  MailFirmwareRevisionText(identification));
  lines.push_back("Configured Capacity : " + CapacityWithSectors(record.ArrayCapacity()));
  AddDriveLines(lines, kind, record, 0);
  AddDriveLines(lines, kind, record, 1);
  return lines;
}

std::string AlertSubject(const MailSettings& settings, AlertKind kind) {
  const std::vector<std::string>& subject = settings.Subjects(kind);
  return std::string("[") + kTitleText + " Message] " + (subject.empty() ? "" : subject.front());
}

std::string AlertNotificationSubject(const MailSettings& settings, AlertKind kind) {
  const std::vector<std::string>& subject = settings.Subjects(kind);
  if (!subject.empty() && !subject.front().empty()) return AlertSubject(settings, kind);
  return std::string("[") + kTitleText + " Message] " + std::string(AlertKindName(kind));
}

std::vector<std::string> AlertBody(const MailSettings& settings, AlertKind kind,
                                   const std::vector<std::string>& alert_info_lines,
                                   const std::vector<std::string>& system_info_lines) {
  std::vector<std::string> body = alert_info_lines;
  body.insert(body.end(), system_info_lines.begin(), system_info_lines.end());
  const std::vector<std::string>& contents = settings.Contents(kind);
  body.insert(body.end(), contents.begin(), contents.end());
  return body;
}

std::string TestMailSubject() {
  return std::string("[") + kTitleText + " Message] Mail Teat ";
}

std::vector<std::string> TestMailBody(const std::vector<std::string>& system_info_lines) {
  std::vector<std::string> body = {std::string("[") + kTitleText + "] E-Mail test!"};
  body.insert(body.end(), system_info_lines.begin(), system_info_lines.end());
  return body;
}

std::string NotReachedText(const std::vector<RecipientFailure>& not_reached) {
  std::string text = kMailNotToAllText;
  for (std::size_t i = 0; i < not_reached.size(); ++i) {
    text += (i == 0 ? "" : ", ") + not_reached[i].address + " (" + not_reached[i].reason + ")";
  }
  return text;
}

bool MailAccountFromSettings(const MailSettings& settings, SmtpAccount& account,
                             std::string& error) {
  const std::string& port_text = settings.Setting(kSettingPort);
  const std::optional<unsigned long> port = ParseDecimal(port_text);
  if (!port || *port == 0 || *port > 65535) {
    error = "The e-mail host's port \"" + port_text + "\" is not a number from 1 to 65535.";
    return false;
  }
  account = SmtpAccount();
  account.host = settings.Setting(kSettingHost);
  if (account.host.empty()) {
    error = "No e-mail host (SMTP) is set.";
    return false;
  }
  account.port = static_cast<std::uint16_t>(*port);
  account.login = settings.LoginAuthentication();
  if (account.login) {
    account.user = settings.Setting(kSettingAccount);
    account.password = settings.Setting(kSettingPassword);
  }
  // The stored time-out (0 to 99 s); 0, or anything unreadable, leaves the client's 30 s.
  const std::optional<unsigned long> timeout = ParseDecimal(settings.Setting(kSettingTimeOut));
  account.timeout_seconds = timeout && *timeout <= 99 ? static_cast<unsigned>(*timeout) : 0;
  return true;
}

AlertMailer::AlertMailer(MailSettingsStore& settings, SmtpClient& client,
                         const EnclosureRegistry& registry, const StatusRecords& records,
                         std::atomic<std::uint8_t>& mail_request_flags, UiSink& ui, Clock& clock)
    : settings_(settings),
      client_(client),
      registry_(registry),
      records_(records),
      flags_(mail_request_flags),
      ui_(ui),
      clock_(clock) {
  client_.SetEventHandler([this](SmtpEvent event) { OnSmtpEvent(event); });
}

void AlertMailer::SetNoticeHandler(std::function<void(const std::string&)> handler) {
  notice_handler_ = std::move(handler);
}

void AlertMailer::SetSystemInfoLines(std::vector<std::string> lines) {
  std::lock_guard lock(mutex_);
  system_info_lines_ = std::move(lines);
}

std::vector<std::string> AlertMailer::SystemInfoLines() const {
  std::lock_guard lock(mutex_);
  return system_info_lines_;
}

void AlertMailer::RememberList() {
  std::vector<RememberedEnclosure> list;
  for (unsigned position = 0; position < registry_.current.size(); ++position) {
    const unsigned slot = DriveNumberOf(registry_.current[position].device_code);
    list.push_back({registry_.CurrentBlock(position), records_.Record(slot)});
  }
  std::lock_guard lock(mutex_);
  remembered_ = std::move(list);
}

void AlertMailer::ListPolled() {
  RememberList();
}

void AlertMailer::SetClearedHandler(ClearedHandler handler) {
  cleared_handler_ = std::move(handler);
}

void AlertMailer::ConditionCleared(AlertKind kind, unsigned enclosure_index, unsigned port) {
  if (cleared_handler_) cleared_handler_(kind, enclosure_index, port);
}

void AlertMailer::SetAlertTextHandler(std::function<void(const AlertText&)> handler) {
  alert_text_handler_ = std::move(handler);
}

void AlertMailer::BuildAlertInfo(AlertKind kind, unsigned enclosure_index, unsigned port) {
  const MailSettings settings = settings_.Snapshot();
  if (!alert_text_handler_ && settings.Suppressed(kind)) return;
  QueuedAlert alert{kind, {}};
  std::vector<std::string> system_info;
  {
    std::lock_guard lock(mutex_);
    system_info = system_info_lines_;
    if (kind == AlertKind::kDeviceRemoved) {
      // The enclosure has left the list already: describe it as it was last polled, not
      // whichever enclosure has moved up into its position.
      if (enclosure_index < remembered_.size()) {
        const RememberedEnclosure& last = remembered_[enclosure_index];
        alert.info_lines =
            AlertInfoLines(kind, enclosure_index, port, last.identification, last.record);
      }
    } else if (enclosure_index < registry_.current.size()) {
      const unsigned slot = DriveNumberOf(registry_.current[enclosure_index].device_code);
      alert.info_lines =
          AlertInfoLines(kind, enclosure_index, port, registry_.CurrentBlock(enclosure_index),
                         records_.Record(slot));
    }
  }
  if (alert_text_handler_) {
    alert_text_handler_({kind, enclosure_index, port, AlertNotificationSubject(settings, kind),
                         AlertBody(settings, kind, alert.info_lines, system_info)});
  }
  if (settings.Suppressed(kind)) return;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(alert));
    alerts_not_sent_.fetch_add(1);
  }
  flags_.fetch_or(kMailRequestSend);
}

bool AlertMailer::HasWork() const {
  return flags_.load() != 0 || test_requested_.load();
}

void AlertMailer::RunMailWork() {
  const std::uint8_t flags = flags_.load();
  ui_.SetPanelText(kMailFlagsPanel, "Email=" + std::to_string(flags));
  if (flags & kMailRequestReload) {
    if (std::optional<std::string> problem = settings_.Load()) {
      ui_.ShowMessage({kMailMessageCaption, *problem, MessageIcon::kError});
    }
  }
  if (flags & kMailRequestSend) {
    // Cleared before the queue is taken: an alert raised while these are mailed asks again.
    flags_.fetch_and(static_cast<std::uint8_t>(~kMailRequestSend));
    std::deque<QueuedAlert> alerts;
    std::vector<std::string> system_info;
    {
      std::lock_guard lock(mutex_);
      alerts.swap(queue_);
      system_info = system_info_lines_;
    }
    const MailSettings settings = settings_.Snapshot();
    // Without loaded settings or a recipient the alerts are dropped, not kept for later.
    if (!settings.loaded || settings.recipient_count == 0) {
      alerts_not_sent_.fetch_sub(alerts.size());  // dropped: nobody is to be mailed
    } else {
      for (const QueuedAlert& alert : alerts) {
        if (cancelled_.load()) {
          alert_mails_failed_.fetch_add(1);  // given up: stays counted as not sent
          continue;
        }
        if (mail_sending_.exchange(true)) {
          alert_mails_failed_.fetch_add(1);
          alerts_not_sent_.fetch_sub(1);
          continue;
        }
        const MailOutcome outcome =
            SendMail(settings, AlertSubject(settings, alert.kind),
                     AlertBody(settings, alert.kind, alert.info_lines, system_info), false);
        mail_sending_.store(false);
        (outcome.sent ? alert_mails_sent_ : alert_mails_failed_).fetch_add(1);
        alert_recipients_failed_.fetch_add(outcome.not_reached.size());
        if (outcome.sent || !cancelled_.load()) alerts_not_sent_.fetch_sub(1);
      }
    }
  }
  if (test_requested_.exchange(false)) SendTestMailNow();
}

bool AlertMailer::RequestTestMail(std::uint8_t settings_changed_mask) {
  if (settings_changed_mask != 0) {
    ui_.ShowMessage({kMailMessageCaption, kMailChangedText, MessageIcon::kInformation});
    return false;
  }
  if (!settings_.Snapshot().loaded) {
    ui_.ShowMessage({kMailMessageCaption, kMailNotReadyText, MessageIcon::kInformation});
    return false;
  }
  test_requested_.store(true);
  return true;
}

MailOutcome AlertMailer::SendTestMailNow() {
  const MailSettings settings = settings_.Snapshot();
  if (!settings.loaded) {
    ui_.ShowMessage({kMailMessageCaption, kMailNotReadyText, MessageIcon::kInformation});
    return {false, kMailNotReadyText, {}};
  }
  if (mail_sending_.exchange(true)) return {false, "Another mail is being sent.", {}};
  MailOutcome outcome =
      SendMail(settings, TestMailSubject(), TestMailBody(SystemInfoLines()), true);
  mail_sending_.store(false);
  return outcome;
}

std::size_t AlertMailer::QueuedAlerts() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

void AlertMailer::Cancel() {
  cancelled_.store(true);
  client_.Cancel();
}

MailOutcome AlertMailer::SendMail(const MailSettings& settings, const std::string& subject,
                                  const std::vector<std::string>& body, bool test_mail) {
  MailOutcome outcome;
  const auto fail = [&](const std::string& why) {
    // A stop is no failure of the mail's own; the monitor counts what it left unsent.
    if (!cancelled_.load()) ui_.ShowMessage({kMailMessageCaption, why, MessageIcon::kError});
    if (client_.Connected()) client_.Disconnect();
    smtp_state_.store(SmtpState::kNotConnected);
    outcome.text = why;
    return outcome;
  };

  if (!client_.Connected()) {
    smtp_state_.store(SmtpState::kNotConnected);
    SmtpAccount account;
    std::string error;
    if (!MailAccountFromSettings(settings, account, error) || !client_.Connect(account, error)) {
      return fail(error);
    }
  }

  for (int pass = 0; pass < kSmtpPasses && !cancelled_.load(); ++pass) {
    const SmtpState state = smtp_state_.load();
    if (state == SmtpState::kNotConnected) {
      clock_.SleepMs(kSmtpWaitMs);
      continue;
    }
    if (state == SmtpState::kInitial) break;
    if (state != SmtpState::kConnected) continue;

    MailMessage mail;
    mail.from_name = settings.Setting(kSettingSenderName);
    mail.from_address = settings.Setting(kSettingSenderAddress);
    mail.subject = subject;
    mail.body = body;
    if (test_mail) {
      mail.recipients.push_back(settings.Setting(kSettingSenderAddress));
    } else {
      mail.recipients = settings.recipients;
    }
    std::string error;
    const bool sent = client_.Send(mail, error);
    outcome.not_reached = client_.FailedRecipients();
    if (!sent) return fail(error);
    break;
  }

  for (int wait = 0;
       wait < kSmtpPasses && smtp_state_.load() != SmtpState::kWritten && !cancelled_.load();
       ++wait) {
    clock_.SleepMs(kSmtpWaitMs);
  }
  outcome.sent = smtp_state_.load() == SmtpState::kWritten;
  if (outcome.sent) {
    outcome.text = client_.AcceptedReply();
    if (!outcome.not_reached.empty()) {
      // Said once per mail, where the sending texts go (holding the panel until a mail reaches
      // everyone), and to whoever listens.
      const std::string notice = NotReachedText(outcome.not_reached);
      ui_.ShowPanelFailure(kMailProgressPanel, kMailNotReachedKey, notice);
      if (notice_handler_) notice_handler_(notice);
    } else {
      ui_.EndPanelFailure(kMailProgressPanel, kMailNotReachedKey);
    }
    if (test_mail) ui_.ShowMessage({kMailMessageCaption, kMailSuccessText, MessageIcon::kNone});
  } else {
    outcome.text = "The e-mail host did not confirm the mail.";
  }
  if (client_.Connected()) client_.Disconnect();
  return outcome;
}

void AlertMailer::OnSmtpEvent(SmtpEvent event) {
  switch (event) {
    case SmtpEvent::kConnected:
      smtp_state_.store(SmtpState::kConnected);
      ui_.SetPanelText(kMailFlagsPanel, kMailConnectText);
      break;
    case SmtpEvent::kDisconnected:
      smtp_state_.store(SmtpState::kNotConnected);
      break;
    case SmtpEvent::kWorkBegin:
      smtp_state_.store(SmtpState::kWriting);
      ui_.SetPanelText(kMailProgressPanel, kMailSendingText);
      break;
    case SmtpEvent::kWorkEnd:
      smtp_state_.store(SmtpState::kWritten);
      ui_.SetPanelText(kMailProgressPanel, kMailSuccessText);
      break;
  }
}

}  // namespace raid
