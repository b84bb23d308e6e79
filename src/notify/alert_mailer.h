// SPDX-License-Identifier: GPL-2.0-or-later
// Alert mails: the event detector raises an alert (BuildAlertInfo), the e-mail worker mails it
// (RunMailWork), and the E-mail page's Test button sends the test mail. Every alert that is not
// suppressed waits in a queue and is mailed on its own, so two drives failing in one poll give two
// mails.
//
// Threads: BuildAlertInfo and RememberList run where the detector runs (the RAID worker, or
// raidctl's loop); RunMailWork on the e-mail worker; RequestTestMail on the window thread. What
// the user should see goes to the UiSink given at construction, which must be safe to call from
// the e-mail worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/ui_sink.h"
#include "device/enclosure_list.h"
#include "events/alert_sink.h"
#include "events/event_detector.h"
#include "notify/mail_settings.h"
#include "notify/smtp_client.h"
#include "status/controller_status.h"

namespace raid {

// The caption of every mail message box.
inline constexpr const char* kMailMessageCaption = "E-Mail Message";
inline constexpr const char* kMailChangedText =
    "E-Mail setting was changed, please click \"OK\" or \"Ignore\" button first!";
inline constexpr const char* kMailNotReadyText = "E-Mail setting isn't ready!";
inline constexpr const char* kMailSuccessText = "Send mail Success!";
inline constexpr const char* kMailSendingText = "Mail is Sending...";
inline constexpr const char* kMailConnectText = "Connect";
// Begins the notice of a mail that went out without reaching every recipient.
inline constexpr const char* kMailNotToAllText = "The mail went out, but not to: ";

// Status-bar panels the mail work writes: "Email=N" and "Connect" in the third, the sending
// texts in the fourth.
inline constexpr int kMailFlagsPanel = 2;
inline constexpr int kMailProgressPanel = 3;
// The failure key under which a mail that did not reach every recipient holds its panel, until
// a mail reaches them all.
inline constexpr const char* kMailNotReachedKey = "mail not reached";

// SmtpState values.
enum class SmtpState : std::uint8_t {
  kInitial = 0,
  kConnected = 1,
  kNotConnected = 2,
  kWriting = 16,
  kWritten = 17,
};

// How one mail went: sent (the server accepted it for at least one recipient) or not, the text
// the user was shown or should read, and the recipients it did not reach.
struct MailOutcome {
  bool sent = false;
  std::string text;
  std::vector<RecipientFailure> not_reached;
};

// kMailNotToAllText and each recipient with why it was not reached.
std::string NotReachedText(const std::vector<RecipientFailure>& not_reached);

// The alert's information lines: what happened, then the enclosure's model, mode and firmware,
// capacity and drives. `identification` and `record` describe the enclosure at `enclosure_index`.
std::vector<std::string> AlertInfoLines(AlertKind kind, unsigned enclosure_index, unsigned port,
                                        const IdentificationBlock& identification,
                                        const ControllerStatus& record);

// The subject and body of an alert mail and of the test mail.
std::string AlertSubject(const MailSettings& settings, AlertKind kind);
std::vector<std::string> AlertBody(const MailSettings& settings, AlertKind kind,
                                   const std::vector<std::string>& alert_info_lines,
                                   const std::vector<std::string>& system_info_lines);
// The subject of an alert's push notification: the mail's, or the kind's name where the mail
// settings give none (mail not set up), so that a push never comes without a title.
std::string AlertNotificationSubject(const MailSettings& settings, AlertKind kind);
std::string TestMailSubject();
std::vector<std::string> TestMailBody(const std::vector<std::string>& system_info_lines);

// The account a mail goes out on, from SettingsList; false with the reason when the port is not a
// number from 1 to 65535 or the host is empty.
bool MailAccountFromSettings(const MailSettings& settings, SmtpAccount& account,
                             std::string& error);

// An alert raised, in the words its mail has: for the push channels, which hear every alert
// whether it is mailed or not.
struct AlertText {
  AlertKind kind = AlertKind::kHardDisksFail;
  unsigned enclosure_index = 0;
  unsigned port = 0;
  std::string subject;
  std::vector<std::string> body;
};

class AlertMailer final : public AlertSink {
 public:
  AlertMailer(MailSettingsStore& settings, SmtpClient& client, const EnclosureRegistry& registry,
              const StatusRecords& records, std::atomic<std::uint8_t>& mail_request_flags,
              UiSink& ui, Clock& clock);
  AlertMailer(const AlertMailer&) = delete;
  AlertMailer& operator=(const AlertMailer&) = delete;

  // Hears, besides the status bar, what a person should read about a mail that went out but did
  // not reach every recipient; called on the thread that sends. raidctl prints it.
  void SetNoticeHandler(std::function<void(const std::string&)> handler);
  // Hears each alert's text as it is raised, on the thread that raises it, before the mail
  // settings decide whether it is mailed. Set before alerts are raised.
  void SetAlertTextHandler(std::function<void(const AlertText&)> handler);
  // Hears what the detector says is well again, on the thread that polls. Set before it polls.
  using ClearedHandler = std::function<void(AlertKind, unsigned enclosure_index, unsigned port)>;
  void SetClearedHandler(ClearedHandler handler);
  // SystemInfoLines, built once at start.
  void SetSystemInfoLines(std::vector<std::string> lines);
  std::vector<std::string> SystemInfoLines() const;

  // After each detection: remembers the list as it was polled, so that a removal alert, raised
  // once the enclosure has left the list, still describes that enclosure.
  void RememberList();

  // Queues the alert's lines and requests a mail, unless the kind is suppressed.
  void BuildAlertInfo(AlertKind kind, unsigned enclosure_index, unsigned port) override;
  void ListPolled() override;
  // Mails nothing: handed to the cleared handler alone.
  void ConditionCleared(AlertKind kind, unsigned enclosure_index, unsigned port) override;

  // The e-mail worker's look: a reload or mail request, or a test mail, waits.
  bool HasWork() const;
  // Serves the reload request, then the queued alerts (one mail each; dropped when the settings
  // are not loaded or name no recipient), then a requested test mail.
  void RunMailWork();

  // The Test button: refuses with its message while the page has unsaved changes or the settings
  // are not loaded; otherwise asks the e-mail worker to send the test mail. True when asked.
  bool RequestTestMail(std::uint8_t settings_changed_mask);
  // raidctl mail-test: sends the test mail now, on the calling thread.
  MailOutcome SendTestMailNow();

  std::size_t QueuedAlerts() const;

  // From any thread, for a program that stops: the mail under way gives up within about a
  // second, and no further mail is sent.
  void Cancel();
  // Alert mails that were due and will not go out because of Cancel: those given up and those
  // still queued.
  std::size_t AlertsNotSent() const { return alerts_not_sent_.load(); }
  // The same count, kept up to date as alerts are raised and mailed, for a process that ends
  // at once: read without a lock, it may be read in a signal handler (it then also counts the
  // mail under way).
  const std::atomic<std::size_t>& NotSentCounter() const { return alerts_not_sent_; }

  // Alert mails the server accepted, and alert mails that were due but did not go out (refused,
  // never confirmed, crowded out by a mail being sent, or given up at a stop), counted from the
  // start; recipients of alert mails that a mail did not reach. Test mails are not counted, nor
  // alerts dropped because mail is off. Safe to read from any thread.
  std::uint64_t AlertMailsSent() const { return alert_mails_sent_.load(); }
  std::uint64_t AlertMailsFailed() const { return alert_mails_failed_.load(); }
  std::uint64_t AlertRecipientsFailed() const { return alert_recipients_failed_.load(); }

 private:
  struct QueuedAlert {
    AlertKind kind;
    std::vector<std::string> info_lines;
  };
  struct RememberedEnclosure {
    IdentificationBlock identification{};
    ControllerStatus record;
  };

  MailOutcome SendMail(const MailSettings& settings, const std::string& subject,
                       const std::vector<std::string>& body, bool test_mail);
  void OnSmtpEvent(SmtpEvent event);

  MailSettingsStore& settings_;
  SmtpClient& client_;
  const EnclosureRegistry& registry_;
  const StatusRecords& records_;
  std::atomic<std::uint8_t>& flags_;
  UiSink& ui_;
  Clock& clock_;

  mutable std::mutex mutex_;
  std::deque<QueuedAlert> queue_;
  std::vector<RememberedEnclosure> remembered_;
  std::vector<std::string> system_info_lines_;

  std::atomic<bool> test_requested_{false};
  std::atomic<bool> mail_sending_{false};  // MailSending
  std::atomic<SmtpState> smtp_state_{SmtpState::kInitial};
  std::atomic<std::uint64_t> alert_mails_sent_{0};
  std::atomic<std::uint64_t> alert_mails_failed_{0};
  std::atomic<std::uint64_t> alert_recipients_failed_{0};
  std::atomic<bool> cancelled_{false};
  // Raised and not yet sent or failed on its own: queued, under way, or given up at a stop.
  std::atomic<std::size_t> alerts_not_sent_{0};
  static_assert(std::atomic<std::size_t>::is_always_lock_free);
  std::function<void(const std::string&)> notice_handler_;
  std::function<void(const AlertText&)> alert_text_handler_;
  ClearedHandler cleared_handler_;
};

}  // namespace raid
