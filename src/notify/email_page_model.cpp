// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/email_page_model.h"

#include <utility>

#include "notify/alert_mailer.h"
#include "notify/mail_entry_checks.h"

namespace raid {

PendingRecipients::AddResult PendingRecipients::Add(std::string_view entry) {
  AddResult result;
  if (entry.empty() || addresses_.size() >= kMaxRecipients) return result;
  const std::string address = TrimBlanks(entry);
  if (!AddressEntryProblem(address)) {
    addresses_.push_back(address);
    result.added = true;
  } else {
    result.refusal =
        MessageBoxRequest{kMailMessageCaption, kAddressFormulaErrorText, MessageIcon::kInformation};
  }
  result.clear_entry = true;
  return result;
}

bool PendingRecipients::Remove(int selected_row) {
  if (selected_row < 0 || static_cast<std::size_t>(selected_row) >= addresses_.size()) return false;
  addresses_.erase(addresses_.begin() + selected_row);
  return true;
}

std::string PendingRecipients::RowText(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= addresses_.size()) return {};
  return addresses_[static_cast<std::size_t>(row)];
}

void PendingRecipients::Assign(std::vector<std::string> addresses) {
  // A longer stored list than the page can hold shows its first ten.
  if (addresses.size() > kMaxRecipients) addresses.resize(kMaxRecipients);
  addresses_ = std::move(addresses);
}

std::vector<std::string> MemoLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::string MemoText(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += '\n';
    text += lines[i];
  }
  // A last line that is empty needs its own line feed, or MemoLines would not see it.
  if (!lines.empty() && lines.back().empty()) text += '\n';
  return text;
}

std::uint8_t ChangedBitOf(std::size_t setting_position) {
  switch (setting_position) {
    case kSettingPort:
      return kChangedPort;
    case kSettingHost:
      return kChangedHost;
    case kSettingSenderName:
      return kChangedSenderName;
    case kSettingSenderAddress:
      return kChangedSenderAddress;
    case kSettingTimeOut:
      return kChangedTimeOut;
    case kSettingPassword:
      return kChangedPassword;
    case kSettingAccount:
      return kChangedAccount;
    default:
      return 0;
  }
}

void EmailPageModel::Open(const MailSettings& settings, EmailPageFields& fields) {
  Fill(settings, fields, false);
}

void EmailPageModel::Ignore(const MailSettings& settings, EmailPageFields& fields) {
  Fill(settings, fields, true);
}

void EmailPageModel::Fill(const MailSettings& settings, EmailPageFields& fields,
                          bool keep_suppression) {
  if (settings.key_exists) {
    for (std::size_t position = 0; position < kSettingCount; ++position)
      fields.setup[position] = settings.Setting(position);
    if (!keep_suppression) {
      fields.suppress_hard_disks_fail = settings.Suppressed(AlertKind::kHardDisksFail);
      fields.suppress_device_removed = settings.Suppressed(AlertKind::kDeviceRemoved);
    }
    fields.login_authentication = settings.LoginAuthentication();
    const auto first_line = [](const std::vector<std::string>& lines) {
      return lines.empty() ? std::string() : lines.front();
    };
    fields.subject_hard_disks_fail = first_line(settings.Subjects(AlertKind::kHardDisksFail));
    fields.contents_hard_disks_fail = settings.Contents(AlertKind::kHardDisksFail);
    fields.subject_device_removed = first_line(settings.Subjects(AlertKind::kDeviceRemoved));
    fields.contents_device_removed = settings.Contents(AlertKind::kDeviceRemoved);
    recipients_.Assign(settings.recipients);
  } else {
    fields.setup[kSettingPort] = kDefaultPortText;
    fields.setup[kSettingTimeOut] = kDefaultTimeOutText;
    fields.login_authentication = false;
  }
  settings_changed_mask_ = 0;
}

MailSettingsEdits EmailPageModel::PrepareOk(EmailPageFields& fields) {
  // Blanks around a host or an address are a slip of the keyboard, never part of it.
  for (const std::size_t position : {kSettingHost, kSettingSenderAddress}) {
    std::string trimmed = TrimBlanks(fields.setup[position]);
    if (trimmed != fields.setup[position]) {
      fields.setup[position] = std::move(trimmed);
      FieldChanged(position);
    }
  }
  // Filling in a default is a change of the field, so it is saved like one.
  for (const auto& [position, text] : {std::pair{kSettingPort, kDefaultPortText},
                                       std::pair{kSettingTimeOut, kDefaultTimeOutText}}) {
    if (fields.setup[position].empty()) {
      fields.setup[position] = text;
      FieldChanged(position);
    }
  }
  MailSettingsEdits edits;
  edits.fields = fields.setup;
  edits.login_authentication = fields.login_authentication;
  edits.suppress_hard_disks_fail = fields.suppress_hard_disks_fail;
  edits.suppress_device_removed = fields.suppress_device_removed;
  edits.recipients = recipients_.addresses();
  edits.subject_hard_disks_fail = fields.subject_hard_disks_fail;
  edits.contents_hard_disks_fail = fields.contents_hard_disks_fail;
  edits.subject_device_removed = fields.subject_device_removed;
  edits.contents_device_removed = fields.contents_device_removed;
  return edits;
}

void EmailPageModel::FieldChanged(std::size_t setting_position) {
  settings_changed_mask_ |= ChangedBitOf(setting_position);
}

}  // namespace raid
