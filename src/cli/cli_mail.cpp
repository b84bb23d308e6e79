// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/cli_mail.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/json_output.h"
#include "cli/platform.h"
#include "common/decimal_text.h"
#include "common/platform_files.h"
#include "common/text_helpers.h"
#include "notify/mail_entry_checks.h"
#include "notify/mail_templates.h"
#include "sysinfo/host_info.h"

namespace raid::cli {
namespace {

// Stands in for the status records when no enclosure is watched.
class NoRecords : public StatusRecords {
 public:
  const ControllerStatus& Record(unsigned) const override { return record_; }

 private:
  ControllerStatus record_;
};

constexpr std::array<std::uint8_t, kSettingCount> kChangedBits = {
    kChangedPort,    kChangedHost,     kChangedSenderName, kChangedSenderAddress,
    kChangedTimeOut, kChangedPassword, kChangedAccount};

bool IsNumberUpTo(const std::string& text, unsigned long low, unsigned long high) {
  const std::optional<unsigned long> value = ParseDecimal(text);
  return value && *value >= low && *value <= high;
}

// The settings as the E-mail page shows them when it opens: what is stored, or its defaults.
MailSettingsEdits EditsFromSettings(const MailSettings& settings) {
  MailSettingsEdits edits;
  if (!settings.loaded) {
    edits.fields[kSettingPort] = "25";
    edits.fields[kSettingTimeOut] = "0";
    return edits;
  }
  for (std::size_t i = 0; i < kSettingCount; ++i)
    edits.fields[i] = settings.Setting(i);
  edits.login_authentication = settings.LoginAuthentication();
  // An unreadable password is not carried over as the text that says so.
  if (settings.auth_status == kAuthUnreadable) edits.fields[kSettingPassword].clear();
  edits.suppress_hard_disks_fail = settings.Suppressed(AlertKind::kHardDisksFail);
  edits.suppress_device_removed = settings.Suppressed(AlertKind::kDeviceRemoved);
  edits.recipients = settings.recipients;
  const auto first = [](const std::vector<std::string>& lines) {
    return lines.empty() ? std::string() : lines.front();
  };
  edits.subject_hard_disks_fail = first(settings.Subjects(AlertKind::kHardDisksFail));
  edits.subject_device_removed = first(settings.Subjects(AlertKind::kDeviceRemoved));
  edits.contents_hard_disks_fail = settings.Contents(AlertKind::kHardDisksFail);
  edits.contents_device_removed = settings.Contents(AlertKind::kDeviceRemoved);
  return edits;
}

// The host and addresses the options give, without blanks around them; false with the reason,
// naming the option, for one the page would not take either.
bool CheckEntries(MailSetupOptions& options, std::string& error) {
  if (options.host) {
    options.host = TrimBlanks(*options.host);
    if (const std::optional<std::string> why = HostEntryProblem(*options.host)) {
      error = "--smtp: the host \"" + DeviceText(*options.host) + "\" cannot be used: " + *why;
      return false;
    }
  }
  if (options.from) {
    options.from = TrimBlanks(*options.from);
    if (const std::optional<std::string> why = AddressEntryProblem(*options.from)) {
      error =
          "--from: E-Mail Address formula error! (" + DeviceText(*options.from) + ": " + *why + ")";
      return false;
    }
  }
  for (std::string& address : options.recipients) {
    address = TrimBlanks(address);
    if (const std::optional<std::string> why = AddressEntryProblem(address)) {
      error = "--to: E-Mail Address formula error! (" + DeviceText(address) + ": " + *why + ")";
      return false;
    }
  }
  return true;
}

// Applies the options to `edits`; false with the reason for an option the page would not take.
bool ApplyOptions(MailSetupOptions options, MailSettingsEdits& edits, std::string& error) {
  if (!CheckEntries(options, error)) return false;
  const auto set = [&](std::size_t position, const std::optional<std::string>& value) {
    if (value) edits.fields[position] = *value;
  };
  if (options.port && !IsNumberUpTo(*options.port, 1, 65535)) {
    error = "--port needs a number from 1 to 65535";
    return false;
  }
  if (options.timeout && !IsNumberUpTo(*options.timeout, 0, 99)) {
    error = "--timeout needs a number of seconds from 0 to 99";
    return false;
  }
  set(kSettingPort, options.port);
  set(kSettingHost, options.host);
  set(kSettingSenderName, options.name);
  set(kSettingSenderAddress, options.from);
  set(kSettingTimeOut, options.timeout);
  set(kSettingAccount, options.user);
  if (options.login) edits.login_authentication = *options.login;

  if (options.clear_recipients) edits.recipients.clear();
  if (!options.recipients.empty()) {
    if (options.recipients.size() > kMaxRecipients) {
      error = "at most ten recipients (--to)";
      return false;
    }
    edits.recipients = options.recipients;
  }
  for (const auto& [kind, suppressed] : options.suppress) {
    (kind == 1 ? edits.suppress_hard_disks_fail : edits.suppress_device_removed) = suppressed;
  }
  for (const auto& [kind, text] : options.subjects) {
    if (text.find_first_of("\r\n") != std::string::npos) {
      error = "--subject takes one line";
      return false;
    }
    (kind == 1 ? edits.subject_hard_disks_fail : edits.subject_device_removed) = text;
  }
  for (const auto& [kind, file] : options.bodies) {
    // A missing template file means no contents; a missing --body file is a mistake.
    std::string what;
    if (ExaminePath(PathFromUtf8(file), what) == PathKind::kMissing) {
      error = "--body: there is no file " + file;
      return false;
    }
    std::vector<std::string> lines;
    if (!ReadTemplateFile(PathFromUtf8(file), lines, error)) {
      error = "--body: " + error;
      return false;
    }
    if (const std::string too_large = TemplateTooLargeText(lines); !too_large.empty()) {
      error = "--body: " + file + ": " + too_large + "; nothing was saved";
      return false;
    }
    (kind == 1 ? edits.contents_hard_disks_fail : edits.contents_device_removed) = lines;
  }
  return true;
}

std::string KindList(std::uint32_t suppress_mask) {
  std::string kinds;
  for (unsigned k = 1; k <= 4; ++k) {
    if ((suppress_mask & (1U << (k - 1))) == 0) continue;
    if (!kinds.empty()) kinds += ", ";
    kinds += AlertKindName(static_cast<AlertKind>(k));
  }
  return kinds.empty() ? "none" : kinds;
}

// The platform's settings and host description; the SMTP client of this build.
MailStackSources CliMailSources() {
  MailStackSources sources;
  sources.smtp_client = MakeSmtpClient;
  return sources;
}

}  // namespace

CliMail::CliMail(const EnclosureRegistry& registry, const StatusRecords& records, Clock& clock,
                 UiSink& ui)
    : stack_(registry, records, flags_, ui, clock, CliMailSources()) {}

bool CliMail::LoadSettings() {
  if (const std::optional<std::string> problem = store().CheckAtStart()) {
    std::fprintf(stderr, "raidctl: %s\n", problem->c_str());
  }
  // Not by the reload request: a mail worker may be serving that one already.
  if (!store().Snapshot().key_exists) return false;
  if (const std::optional<std::string> problem = store().Load()) {
    std::fprintf(stderr, "raidctl: %s\n", problem->c_str());
  }
  return store().Snapshot().loaded;
}

bool CliMail::ReloadSettings() {
  if (LoadSettings()) return true;
  // Without stored settings LoadSettings leaves the store as it was; a load marks it unloaded.
  if (store().Snapshot().loaded) store().Load();
  return store().Snapshot().loaded;
}

int RunMailSetupCommand(const MailSetupOptions& options) {
  EnclosureRegistry registry;
  NoRecords records;
  SystemClock clock;
  ConsoleUiSink ui(false);
  CliMail mail(registry, records, clock, ui);
  mail.LoadSettings();
  const MailSettings current = mail.store().Snapshot();
  if (current.key_exists && !current.loaded) {
    std::fprintf(stderr, "raidctl: the stored mail settings cannot be read; not changed\n");
    return 1;
  }

  MailSettingsEdits edits = EditsFromSettings(current);
  const MailSettingsEdits before = edits;
  std::string error;
  if (!ApplyOptions(options, edits, error)) {
    std::fprintf(stderr, "raidctl: %s\n", error.c_str());
    return 2;
  }
  if (options.login == true) {
    std::string password;
    if (!ReadSecretLine("SMTP password: ", password)) {
      std::fprintf(stderr, "raidctl: --auth reads the password from standard input\n");
      return 2;
    }
    if (password.size() > kMaxPasswordLength) {
      std::fprintf(stderr, "raidctl: the password is longer than %zu bytes\n", kMaxPasswordLength);
      return 2;
    }
    edits.fields[kSettingPassword] = password;
  }
  std::uint8_t changed = 0;
  for (std::size_t i = 0; i < kSettingCount; ++i) {
    if (edits.fields[i] != before.fields[i]) changed |= kChangedBits[i];
  }

  if (const std::optional<std::string> problem = mail.store().Save(edits, changed)) {
    std::fprintf(stderr, "raidctl: %s\n", problem->c_str());
    return 1;
  }
  if (const std::optional<std::string> problem = mail.store().Load()) {
    std::fprintf(stderr, "raidctl: %s\n", problem->c_str());
    return 1;
  }
  std::fprintf(stderr, "raidctl: mail settings saved in %s\n", mail.backend().Location().c_str());
  return 0;
}

int RunMailShowCommand(bool json) {
  EnclosureRegistry registry;
  NoRecords records;
  SystemClock clock;
  ConsoleUiSink ui(false);
  CliMail mail(registry, records, clock, ui);
  const bool loaded = mail.LoadSettings();
  const MailSettings settings = mail.store().Snapshot();
  const std::string location = mail.backend().Location();
  const std::string password_state =
      settings.auth_status == kAuthUnreadable
          ? "unreadable"
          : (settings.Setting(kSettingPassword).empty() ? "none" : "set");

  if (json) {
    nlohmann::json out = {{"location", location}, {"configured", loaded}};
    if (loaded) {
      out["smtp"] = settings.Setting(kSettingHost);
      out["port"] = settings.Setting(kSettingPort);
      out["timeout"] = settings.Setting(kSettingTimeOut);
      out["sender_name"] = settings.Setting(kSettingSenderName);
      out["sender_address"] = settings.Setting(kSettingSenderAddress);
      out["login"] = settings.LoginAuthentication();
      out["account"] = settings.Setting(kSettingAccount);
      out["password"] = password_state;
      out["recipients"] = settings.recipients;
      out["suppressed"] = settings.suppress_mask;
      out["template_folder"] = settings.file_path;
      nlohmann::json kinds = nlohmann::json::array();
      for (unsigned k = 1; k <= 4; ++k) {
        const auto kind = static_cast<AlertKind>(k);
        kinds.push_back({{"kind", k},
                         {"name", AlertKindName(kind)},
                         {"subject", settings.Subjects(kind)},
                         {"contents", settings.Contents(kind)}});
      }
      out["templates"] = kinds;
    }
    std::fputs(JsonDocumentText(out).c_str(), stdout);
    return 0;
  }
  if (!loaded) {
    std::printf("No mail settings in %s yet; raidctl mail-setup writes them.\n", location.c_str());
    return 0;
  }
  std::printf("Settings          %s\n", location.c_str());
  std::printf("E-Mail Host       %s port %s, time-out %s s\n",
              settings.Setting(kSettingHost).c_str(), settings.Setting(kSettingPort).c_str(),
              settings.Setting(kSettingTimeOut).c_str());
  std::printf("Sender            %s <%s>\n", settings.Setting(kSettingSenderName).c_str(),
              settings.Setting(kSettingSenderAddress).c_str());
  if (settings.LoginAuthentication()) {
    std::printf("Login             %s (password %s)\n", settings.Setting(kSettingAccount).c_str(),
                password_state.c_str());
  } else {
    std::printf("Login             off%s\n",
                settings.auth_status == kAuthUnreadable ? " (stored password unreadable)" : "");
  }
  std::printf("Recipients        %zu\n", settings.recipients.size());
  for (const std::string& recipient : settings.recipients)
    std::printf("                  %s\n", recipient.c_str());
  std::printf("No mail for       %s\n", KindList(settings.suppress_mask).c_str());
  std::printf("Template folder   %s\n", settings.file_path.c_str());
  for (unsigned k = 1; k <= 4; ++k) {
    const auto kind = static_cast<AlertKind>(k);
    const std::vector<std::string>& subject = settings.Subjects(kind);
    const std::vector<std::string>& contents = settings.Contents(kind);
    if (subject.empty() && contents.empty()) continue;
    std::printf("%s\n", std::string(AlertKindName(kind)).c_str());
    if (!subject.empty()) std::printf("  Subject         %s\n", subject.front().c_str());
    for (const std::string& line : contents)
      std::printf("  | %s\n", line.c_str());
  }
  return 0;
}

int RunMailTestCommand(bool verbose) {
  EnclosureRegistry registry;
  NoRecords records;
  SystemClock clock;
  ConsoleUiSink ui(verbose);
  CliMail mail(registry, records, clock, ui);
  if (mail.mailer() == nullptr) {
    std::fprintf(stderr, "raidctl: %s\n", mail.no_mailer_reason().c_str());
    return 1;
  }
  if (!mail.LoadSettings()) {
    std::fprintf(stderr, "raidctl: %s (raidctl mail-setup writes the settings)\n",
                 kMailNotReadyText);
    return 1;
  }
  if (!InitializeComForHostQueries()) {
    std::fprintf(stderr, "raidctl: %s\n", kComSecurityErrorText);
  }
  mail.DescribeHost();
  const MailOutcome outcome = mail.mailer()->SendTestMailNow();
  if (!outcome.sent) return 1;  // the reason went out as the "E-Mail Message" line
  const std::string to = mail.store().Snapshot().Setting(kSettingSenderAddress);
  std::printf("Sent the test mail to %s; the server answered: %s\n", to.c_str(),
              outcome.text.c_str());
  return 0;
}

}  // namespace raid::cli
