// SPDX-License-Identifier: GPL-2.0-or-later
// What the E-mail page does, without the widgets: the working recipient list, filling the fields
// from the mail settings (on opening the page and on Ignore), the defaults and edits of OK, and
// SettingsChangedMask. The page widget reads its controls into EmailPageFields, lets the model
// decide, and shows the result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ui_sink.h"
#include "notify/mail_settings.h"

namespace raid {

inline constexpr const char* kAddressFormulaErrorText = "E-Mail Address formula error!";
// What OK puts into an empty port or time-out field.
inline constexpr const char* kDefaultPortText = "25";
inline constexpr const char* kDefaultTimeOutText = "0";

// PendingRecipients: the addresses both event sub-pages edit, at most kMaxRecipients; row i of
// either grid shows address i.
class PendingRecipients {
 public:
  struct AddResult {
    bool added = false;
    bool clear_entry = false;                  // the entry field is emptied
    std::optional<MessageBoxRequest> refusal;  // shown when the text has no "@"
  };

  // The plus button with the sub-page's entry text. Nothing happens for an empty text or a full
  // list; otherwise the text, without blanks around it, is added when it holds an "@" anywhere and
  // no control character, blank or angle bracket (duplicates are welcome), and refused when not;
  // either way the entry is cleared.
  AddResult Add(std::string_view entry);
  // The minus button with the grid's selected row (negative: none). True when an address was
  // deleted; the entry field is then cleared.
  bool Remove(int selected_row);
  // Selecting a grid cell: the row's address, empty below the last one.
  std::string RowText(int row) const;

  void Assign(std::vector<std::string> addresses);
  const std::vector<std::string>& addresses() const { return addresses_; }

 private:
  std::vector<std::string> addresses_;
};

// The page's controls as texts and ticks.
struct EmailPageFields {
  // Edit1, Edit2, Edit3, Edit4, Edit5, Edit8, Edit12: in SettingsList order.
  std::array<std::string, kSettingCount> setup;
  // CheckBox8; the account and password fields and their captions show while it is ticked.
  bool login_authentication = false;
  bool suppress_hard_disks_fail = false;              // CheckBox2
  bool suppress_device_removed = false;               // CheckBox4
  std::string subject_hard_disks_fail;                // Edit10
  std::vector<std::string> contents_hard_disks_fail;  // Memo6
  std::string subject_device_removed;                 // Edit11
  std::vector<std::string> contents_device_removed;   // Memo4
};

// A memo's text as lines and back; a final line feed ends the last line rather than starting an
// empty one, and an empty memo has no lines.
std::vector<std::string> MemoLines(std::string_view text);
std::string MemoText(const std::vector<std::string>& lines);

// The SettingsChangedMask bit of a setup field, by its SettingsList position.
std::uint8_t ChangedBitOf(std::size_t setting_position);

class EmailPageModel {
 public:
  // Opening the page: with a settings key, every field, box and the recipients from `settings`;
  // without one only the port and time-out defaults and an unticked authentication box, the rest
  // left as typed. Clears SettingsChangedMask.
  void Open(const MailSettings& settings, EmailPageFields& fields);
  // Ignore: as opening, except that the two suppression boxes keep their ticks.
  void Ignore(const MailSettings& settings, EmailPageFields& fields);
  // OK: an empty port becomes "25" and an empty time-out "0", blanks around the host and the
  // sender address go, each counting as a change; then what Save is to write.
  MailSettingsEdits PrepareOk(EmailPageFields& fields);

  // A setup field's change event; the other controls change nothing here.
  void FieldChanged(std::size_t setting_position);
  std::uint8_t settings_changed_mask() const { return settings_changed_mask_; }
  void ClearSettingsChangedMask() { settings_changed_mask_ = 0; }

  PendingRecipients& recipients() { return recipients_; }
  const PendingRecipients& recipients() const { return recipients_; }

 private:
  void Fill(const MailSettings& settings, EmailPageFields& fields, bool keep_suppression);

  PendingRecipients recipients_;
  std::uint8_t settings_changed_mask_ = 0;
};

}  // namespace raid
