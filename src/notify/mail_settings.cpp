// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/mail_settings.h"

#include <algorithm>

#include "notify/mail_entry_checks.h"
#include "notify/mail_templates.h"

namespace raid {
namespace {

// Our own table: stored passwords are readable only by a program with the same one, so it must
// never change.
constexpr std::array<std::uint8_t, 8> kScrambleTable = {0x5A, 0xC3, 0x17, 0x8E,
                                                        0x2D, 0xB4, 0x69, 0xF0};
constexpr std::size_t kKeyByteIndex = 16;
constexpr std::size_t kCheckByteIndex = 17;

constexpr std::string_view kValueUserId = "UserID";
constexpr std::string_view kValueAddr = "Addr";
constexpr std::string_view kValueProductId = "ProductID";
constexpr std::string_view kValueEmailSend = "EMailSend";
constexpr std::string_view kValueToAddrCount = "ToAddrCount";
constexpr std::string_view kValueFilePath = "FilePath";

// The string value behind each SettingsList entry, and the changed-mask bit of its field. The
// password is kept scrambled in "ProductID" instead.
struct StringSetting {
  std::size_t position;
  std::string_view value_name;
  std::uint8_t changed_bit;
};
constexpr std::array<StringSetting, 6> kStringSettings = {{
    {kSettingPort, "Port", kChangedPort},
    {kSettingHost, "SMTP", kChangedHost},
    {kSettingSenderName, "UserName", kChangedSenderName},
    {kSettingSenderAddress, kValueAddr, kChangedSenderAddress},
    {kSettingTimeOut, "TimeOut", kChangedTimeOut},
    {kSettingAccount, kValueUserId, kChangedAccount},
}};

constexpr std::array<AlertKind, 4> kAllKinds = {AlertKind::kHardDisksFail,
                                                AlertKind::kDeviceRemoved, AlertKind::kOverHeat,
                                                AlertKind::kFanFail};

std::size_t KindIndex(AlertKind kind) {
  return static_cast<std::size_t>(kind) - 1;
}

// "ToAddr_" and the index as two upper-case hexadecimal digits.
std::string RecipientValueName(std::size_t index) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::string name = "ToAddr_";
  name += kDigits[(index >> 4) & 0x0F];
  name += kDigits[index & 0x0F];
  return name;
}

// Values of the key that are there but of another type than ours ("Port = 2525" as a number in a
// hand-edited file), each with the type it should have. Such a value counts as absent.
std::vector<std::string> WrongTypedValues(SettingsBackend& backend) {
  const std::vector<std::string> names = backend.ValueNames();
  std::vector<std::string> wrong;
  const auto check = [&](std::string_view name, bool readable, const char* type) {
    if (!readable && std::find(names.begin(), names.end(), name) != names.end()) {
      wrong.push_back(std::string(name) + " should be " + type);
    }
  };
  for (const StringSetting& setting : kStringSettings)
    check(setting.value_name, backend.ReadString(setting.value_name).has_value(), "text");
  check(kValueFilePath, backend.ReadString(kValueFilePath).has_value(), "text");
  for (std::size_t i = 0; i < kMaxRecipients; ++i) {
    const std::string name = RecipientValueName(i);
    check(name, backend.ReadString(name).has_value(), "text");
  }
  for (const std::string_view name : {kValueEmailSend, kValueToAddrCount})
    check(name, backend.ReadInteger(name).has_value(), "a whole number from 0 to 4294967295");
  check(kValueProductId, backend.ReadBinary(kValueProductId).has_value(), "bytes");
  return wrong;
}

std::string WrongTypedText(SettingsBackend& backend, const std::vector<std::string>& wrong) {
  std::string text = backend.Location() + ": the value ";
  for (std::size_t i = 0; i < wrong.size(); ++i)
    text += (i == 0 ? "" : ", the value ") + wrong[i];
  return text;
}

// Why an edited host or sender cannot be saved, or nothing. Only what the user changed is
// checked: a value stored by an older version stays until the user changes it.
std::optional<std::string> EditsProblem(const MailSettingsEdits& edits, std::uint8_t changed,
                                        bool all_written) {
  const std::string& host = edits.fields[kSettingHost];
  if ((all_written || (changed & kChangedHost) != 0) && !host.empty()) {
    if (const std::optional<std::string> why = HostEntryProblem(host)) {
      return "the e-mail host \"" + host + "\" cannot be used: " + *why;
    }
  }
  const std::string& sender = edits.fields[kSettingSenderAddress];
  if ((all_written || (changed & kChangedSenderAddress) != 0) && !sender.empty()) {
    if (const std::optional<std::string> why = AddressEntryProblem(sender)) {
      return "the sender address \"" + sender + "\" cannot be used: " + *why;
    }
  }
  // Checked before anything is written, so that a text too large to be read back does not leave
  // the settings saved without their template.
  for (const auto& [kind, lines] :
       {std::pair{AlertKind::kHardDisksFail, &edits.contents_hard_disks_fail},
        std::pair{AlertKind::kDeviceRemoved, &edits.contents_device_removed}}) {
    if (const std::string too_large = TemplateTooLargeText(*lines); !too_large.empty()) {
      return TemplateFileName(kind, TemplatePart::kContents) + ": " + too_large;
    }
  }
  return std::nullopt;
}

void AddProblem(std::optional<std::string>& problems, const std::string& problem) {
  if (problems) {
    *problems += "\n";
    *problems += problem;
  } else {
    problems = problem;
  }
}

// Everything the key holds, templates aside. Older keys may lack the integers and "ProductID";
// what is not there is 0, no password and no login.
void ReadKeyValues(SettingsBackend& backend, MailSettings& settings) {
  const std::uint32_t count =
      std::min<std::uint32_t>(backend.ReadInteger(kValueToAddrCount).value_or(0), kMaxRecipients);
  settings.suppress_mask = backend.ReadInteger(kValueEmailSend).value_or(0);
  settings.file_path = backend.ReadString(kValueFilePath).value_or("");
  settings.settings_list.assign(kSettingCount, std::string());
  for (const StringSetting& setting : kStringSettings) {
    settings.settings_list[setting.position] = backend.ReadString(setting.value_name).value_or("");
  }
  if (const auto product_id = backend.ReadBinary(kValueProductId)) {
    if (product_id->size() == kProductIdSize) settings.key_byte = (*product_id)[kKeyByteIndex];
    UnscrambledPassword password = UnscramblePassword(*product_id);
    settings.settings_list[kSettingPassword] = std::move(password.password);
    settings.auth_status = password.auth_status;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    // A hole in the list is skipped rather than mailed to an empty address.
    std::string address = backend.ReadString(RecipientValueName(i)).value_or("");
    if (!address.empty()) settings.recipients.push_back(std::move(address));
  }
  settings.recipient_count = static_cast<std::uint32_t>(settings.recipients.size());
}

}  // namespace

const std::string& MailSettings::Setting(std::size_t position) const {
  static const std::string kNone;
  return position < settings_list.size() ? settings_list[position] : kNone;
}

const std::vector<std::string>& MailSettings::Subjects(AlertKind kind) const {
  return subjects.at(KindIndex(kind));
}

const std::vector<std::string>& MailSettings::Contents(AlertKind kind) const {
  return contents.at(KindIndex(kind));
}

bool MailSettings::Suppressed(AlertKind kind) const {
  return ((suppress_mask >> KindIndex(kind)) & 1) != 0;
}

std::array<std::uint8_t, kProductIdSize> ScramblePassword(std::string_view password,
                                                          bool login_authentication,
                                                          std::uint8_t key_byte) {
  // Never half a character: what is stored must read back as text.
  password = Utf8Prefix(password, kMaxPasswordLength);
  std::array<std::uint8_t, kProductIdSize> bytes{};
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < kKeyByteIndex; ++i) {
    // Past the password v = i, which unscrambles to the zero byte that ends it.
    const auto v = static_cast<std::uint8_t>(
        i < password.size() ? static_cast<std::uint8_t>(password[i]) + i : i);
    bytes[i] = static_cast<std::uint8_t>(key_byte ^ v ^ kScrambleTable[i % kScrambleTable.size()]);
    sum = static_cast<std::uint8_t>(sum + v);
  }
  bytes[kKeyByteIndex] = key_byte;
  bytes[kCheckByteIndex] =
      static_cast<std::uint8_t>(sum ^ key_byte ^ (login_authentication ? 1 : 0));
  return bytes;
}

UnscrambledPassword UnscramblePassword(std::span<const std::uint8_t> product_id) {
  const UnscrambledPassword unreadable{std::string(kErrorFormat), kAuthUnreadable};
  if (product_id.size() != kProductIdSize) return unreadable;
  const std::uint8_t key = product_id[kKeyByteIndex];
  std::uint8_t sum = 0;
  std::array<char, kKeyByteIndex> plain{};
  for (std::size_t i = 0; i < kKeyByteIndex; ++i) {
    const auto v =
        static_cast<std::uint8_t>(product_id[i] ^ key ^ kScrambleTable[i % kScrambleTable.size()]);
    sum = static_cast<std::uint8_t>(sum + v);
    plain[i] = static_cast<char>(static_cast<std::uint8_t>(v - i));
  }
  const auto check = static_cast<std::uint8_t>(sum ^ key ^ product_id[kCheckByteIndex]);
  if (check > 1) return unreadable;
  // Sixteen characters without an end would be a password longer than any we store.
  const auto end = std::find(plain.begin(), plain.end(), '\0');
  if (end == plain.end()) return unreadable;
  return {std::string(plain.begin(), end), check == 0 ? kAuthOff : kAuthOn};
}

std::optional<std::string> MailSettingsStore::CheckAtStart() {
  std::lock_guard io(io_mutex_);
  std::optional<std::string> problem;
  if (!backend_.Refresh()) {
    problem =
        "The mail settings cannot be read, so none are used until the E-mail page saves "
        "new ones: " +
        backend_.error();
  }
  const bool exists = backend_.KeyExists();
  // A key with a value of the wrong type is left as it is until the user fixes it; the load
  // says which.
  if (exists && WrongTypedValues(backend_).empty()) {
    const std::vector<std::string> names = backend_.ValueNames();
    const auto has = [&names](std::string_view name) {
      return std::find(names.begin(), names.end(), name) != names.end();
    };
    bool ok = backend_.CreateKey();
    bool wrote = false;
    if (ok && !has(kValueUserId)) {
      // The login account was added later; older keys have only the sender's address.
      const std::string address = backend_.ReadString(kValueAddr).value_or("");
      ok = backend_.WriteString(kValueUserId, address.substr(0, address.find('@')));
      wrote = true;
    }
    if (ok && !has(kValueEmailSend)) {
      ok = backend_.WriteInteger(kValueEmailSend, 0);
      wrote = true;
    }
    if (ok && wrote) ok = backend_.Commit();
    if (!ok)
      problem =
          "Cannot complete the mail settings in " + backend_.Location() + ": " + backend_.error();
  }
  {
    std::lock_guard state(state_mutex_);
    state_.key_exists = exists;
    state_.suppress_mask = 0;
    if (!exists) state_.file_path = backend_.DefaultTemplateFolder();
  }
  if (exists) mail_request_flags_.fetch_or(kMailRequestReload);
  return problem;
}

std::optional<std::string> MailSettingsStore::Load() {
  std::lock_guard io(io_mutex_);
  mail_request_flags_.fetch_and(static_cast<std::uint8_t>(~kMailRequestReload));
  if (!backend_.Refresh()) {
    MarkNotLoaded(false);
    return "Cannot load the mail settings: " + backend_.error();
  }
  if (!backend_.KeyExists()) {
    MarkNotLoaded(false);
    return "Cannot load the mail settings: " + backend_.Location() + " does not exist";
  }

  MailSettings next;
  next.key_exists = true;
  ReadKeyValues(backend_, next);
  if (next.file_path.empty()) next.file_path = backend_.DefaultTemplateFolder();

  std::optional<std::string> problems;
  if (const std::vector<std::string> wrong = WrongTypedValues(backend_); !wrong.empty()) {
    AddProblem(problems, WrongTypedText(backend_, wrong) + "; not used until it is corrected");
  }
  for (const AlertKind kind : kAllKinds) {
    for (const TemplatePart part : {TemplatePart::kSubject, TemplatePart::kContents}) {
      auto& lines = part == TemplatePart::kSubject ? next.subjects[KindIndex(kind)]
                                                   : next.contents[KindIndex(kind)];
      std::string error;
      if (!ReadTemplateFile(TemplateFilePath(next.file_path, kind, part), lines, error)) {
        AddProblem(problems, "Cannot read a mail template: " + error);
      }
    }
  }
  next.loaded = true;
  std::lock_guard state(state_mutex_);
  state_ = std::move(next);
  return problems;
}

std::optional<std::string> MailSettingsStore::Save(const MailSettingsEdits& edits,
                                                   std::uint8_t settings_changed_mask) {
  std::lock_guard io(io_mutex_);
  const MailSettings current = Snapshot();
  // Write onto what is stored now, not onto an older read of it. A file that cannot be read is
  // never written over: what it holds beyond the page's fields (and a hand-made fix) would be
  // lost. The user corrects or removes it first.
  if (!backend_.Refresh()) {
    return std::string(kSettingsNotSavedText) + backend_.error() +
           "; correct or remove it, then save again";
  }
  if (const std::vector<std::string> wrong = WrongTypedValues(backend_); !wrong.empty()) {
    return std::string(kSettingsNotSavedText) + WrongTypedText(backend_, wrong) +
           "; correct or remove it, then save again";
  }
  const bool key_existed = current.key_exists && backend_.KeyExists();
  if (const std::optional<std::string> problem =
          EditsProblem(edits, settings_changed_mask, !key_existed)) {
    return std::string(kSettingsNotSavedText) + *problem;
  }
  // The switch, the suppression bits and the recipients are compared with what is stored, not
  // with the copy: a second OK before the first one's reload would compare with older settings
  // and could leave a change unwritten.
  MailSettings stored;
  if (key_existed) ReadKeyValues(backend_, stored);
  std::uint8_t changed = settings_changed_mask;

  bool ok = backend_.CreateKey();
  for (const StringSetting& setting : kStringSettings) {
    if (ok && (!key_existed || (changed & setting.changed_bit) != 0)) {
      ok = backend_.WriteString(setting.value_name, edits.fields[setting.position]);
    }
  }

  // Only the two kinds the page shows; the bits of the others stay as they are.
  std::uint32_t suppress = stored.suppress_mask & ~std::uint32_t{0x03};
  if (edits.suppress_hard_disks_fail) suppress |= 0x01;
  if (edits.suppress_device_removed) suppress |= 0x02;
  if (ok) ok = backend_.WriteInteger(kValueEmailSend, suppress);

  // The box is not a field: compare it with the stored switch.
  if (edits.login_authentication != stored.LoginAuthentication()) changed |= kChangedPassword;
  if (ok && (changed != 0 || !key_existed)) {
    const auto product_id = ScramblePassword(edits.fields[kSettingPassword],
                                             edits.login_authentication, stored.key_byte);
    ok = backend_.WriteBinary(kValueProductId, product_id);
  }

  const std::size_t count = std::min(edits.recipients.size(), kMaxRecipients);
  const std::span<const std::string> recipients(edits.recipients.data(), count);
  if (!std::ranges::equal(recipients, stored.recipients)) {
    // Entries past the new count stay in the key: the count governs.
    if (ok) ok = backend_.WriteInteger(kValueToAddrCount, static_cast<std::uint32_t>(count));
    for (std::size_t i = 0; ok && i < count; ++i) {
      ok = backend_.WriteString(RecipientValueName(i), recipients[i]);
    }
  } else if (ok && !key_existed) {
    ok = backend_.WriteInteger(kValueToAddrCount, static_cast<std::uint32_t>(count));
  }

  const std::string folder = TemplateFolder(current);
  if (ok) ok = backend_.WriteString(kValueFilePath, folder);
  if (ok) ok = backend_.Commit();
  if (!ok) {
    const std::string reason = backend_.error();
    backend_.Refresh();  // drops what was not committed
    MarkNotLoaded(backend_.KeyExists());
    return "Cannot save the mail settings in " + backend_.Location() + ": " + reason;
  }

  std::optional<std::string> problems;
  const auto write_template = [&](AlertKind kind, TemplatePart part,
                                  const std::vector<std::string>& lines) {
    const std::filesystem::path path = TemplateFilePath(folder, kind, part);
    std::string error;
    const bool done =
        lines.empty() ? DeleteTemplateFile(path, error) : WriteTemplateFile(path, lines, error);
    if (!done) {
      AddProblem(problems, "The mail settings were saved in " + backend_.Location() +
                               ", but the mail template " + TemplateFileName(kind, part) +
                               " was not: " + error);
    }
  };
  const auto subject_lines = [](const std::string& subject) {
    return subject.empty() ? std::vector<std::string>{} : std::vector<std::string>{subject};
  };
  write_template(AlertKind::kHardDisksFail, TemplatePart::kSubject,
                 subject_lines(edits.subject_hard_disks_fail));
  write_template(AlertKind::kHardDisksFail, TemplatePart::kContents,
                 edits.contents_hard_disks_fail);
  write_template(AlertKind::kDeviceRemoved, TemplatePart::kSubject,
                 subject_lines(edits.subject_device_removed));
  write_template(AlertKind::kDeviceRemoved, TemplatePart::kContents, edits.contents_device_removed);

  MarkNotLoaded(true);
  return problems;
}

MailSettings MailSettingsStore::Snapshot() const {
  std::lock_guard state(state_mutex_);
  return state_;
}

// The copy no longer matches the key; a reload is requested while there is one to read.
void MailSettingsStore::MarkNotLoaded(bool key_exists) {
  {
    std::lock_guard state(state_mutex_);
    state_.loaded = false;
    state_.key_exists = key_exists;
  }
  if (key_exists) mail_request_flags_.fetch_or(kMailRequestReload);
}

std::string MailSettingsStore::TemplateFolder(const MailSettings& settings) const {
  return settings.file_path.empty() ? backend_.DefaultTemplateFolder() : settings.file_path;
}

}  // namespace raid
