// SPDX-License-Identifier: GPL-2.0-or-later
// The mail settings (MailSettings): how alert mails are sent, to whom, which alert kinds are
// suppressed and what each kind's subject and body say. They persist through a SettingsBackend and
// in the template files; MailSettingsStore loads and saves them.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "events/alert_sink.h"
#include "notify/settings_backend.h"

namespace raid {

// Positions in SettingsList.
inline constexpr std::size_t kSettingPort = 0;
inline constexpr std::size_t kSettingHost = 1;
inline constexpr std::size_t kSettingSenderName = 2;
inline constexpr std::size_t kSettingSenderAddress = 3;
inline constexpr std::size_t kSettingTimeOut = 4;
inline constexpr std::size_t kSettingPassword = 5;
inline constexpr std::size_t kSettingAccount = 6;
inline constexpr std::size_t kSettingCount = 7;

// Bits of MailRequestFlags (SharedState::mail.request_flags).
inline constexpr std::uint8_t kMailRequestReload = 0x01;
inline constexpr std::uint8_t kMailRequestSend = 0x02;

// Bits of SettingsChangedMask, which the E-mail page keeps.
inline constexpr std::uint8_t kChangedPort = 0x01;
inline constexpr std::uint8_t kChangedHost = 0x02;
inline constexpr std::uint8_t kChangedSenderName = 0x04;
inline constexpr std::uint8_t kChangedSenderAddress = 0x08;
inline constexpr std::uint8_t kChangedTimeOut = 0x10;
inline constexpr std::uint8_t kChangedPassword = 0x20;  // or the authentication switch
inline constexpr std::uint8_t kChangedRecipients = 0x40;
inline constexpr std::uint8_t kChangedAccount = 0x80;

// AuthStatus values.
inline constexpr std::uint8_t kAuthOff = 0;
inline constexpr std::uint8_t kAuthOn = 1;
inline constexpr std::uint8_t kAuthUnreadable = 2;  // treated as off

inline constexpr std::size_t kMaxRecipients = 10;
inline constexpr std::size_t kMaxPasswordLength = 15;
inline constexpr std::size_t kProductIdSize = 18;
// The password entry when the stored one cannot be unscrambled.
inline constexpr std::string_view kErrorFormat = "ErrorFormat";
// Begins the reason a save refused to write anything.
inline constexpr const char* kSettingsNotSavedText = "The mail settings were not saved: ";

struct MailSettings {
  std::vector<std::string> settings_list;  // SettingsList: empty, or kSettingCount texts
  std::uint8_t auth_status = kAuthOff;     // AuthStatus
  std::uint8_t key_byte = 0;               // KeyByte
  std::uint32_t suppress_mask = 0;         // SuppressMask: bit k-1 suppresses alert kind k
  std::uint32_t recipient_count = 0;       // RecipientCount, always recipients.size()
  std::vector<std::string> recipients;     // Recipients
  std::string file_path;                   // FilePath: the template folder, UTF-8
  std::array<std::vector<std::string>, 4> subjects;  // Subjects, by alert kind 1-4
  std::array<std::vector<std::string>, 4> contents;  // Contents, by alert kind 1-4
  bool key_exists = false;                           // KeyExists
  bool loaded = false;                               // Loaded

  // The SettingsList entry; empty text before a load.
  const std::string& Setting(std::size_t position) const;
  const std::vector<std::string>& Subjects(AlertKind kind) const;
  const std::vector<std::string>& Contents(AlertKind kind) const;
  bool Suppressed(AlertKind kind) const;
  bool LoginAuthentication() const { return (auth_status & kAuthOn) != 0; }
};

// What the E-mail page's OK hands to Save (its defaults already applied).
struct MailSettingsEdits {
  // Edit1, Edit2, Edit3, Edit4, Edit5, Edit8, Edit12: in SettingsList order.
  std::array<std::string, kSettingCount> fields;
  bool login_authentication = false;                  // CheckBox8
  bool suppress_hard_disks_fail = false;              // CheckBox2
  bool suppress_device_removed = false;               // CheckBox4
  std::vector<std::string> recipients;                // PendingRecipients
  std::string subject_hard_disks_fail;                // Edit10
  std::vector<std::string> contents_hard_disks_fail;  // Memo6
  std::string subject_device_removed;                 // Edit11
  std::vector<std::string> contents_device_removed;   // Memo4
};

// The stored form of the password ("ProductID"): the longest start of `password` of at most
// kMaxPasswordLength bytes that ends between UTF-8 characters, scrambled with `key_byte`, the key
// byte, and a check byte that carries the switch.
std::array<std::uint8_t, kProductIdSize> ScramblePassword(std::string_view password,
                                                          bool login_authentication,
                                                          std::uint8_t key_byte);

struct UnscrambledPassword {
  std::string password;  // kErrorFormat when unreadable
  std::uint8_t auth_status = kAuthOff;
};

// Any number of bytes: a value of the wrong size, a check byte that fits neither switch state, or
// no zero byte among the password bytes reads as kErrorFormat with kAuthUnreadable.
UnscrambledPassword UnscramblePassword(std::span<const std::uint8_t> product_id);

// The program's one MailSettings and the operations on it. Load runs on the e-mail worker, Save on
// the window thread, and the sender and the page read copies; a mutex keeps every copy whole.
// Each operation returns what went wrong, once, for the caller to show; nothing when all went
// well.
class MailSettingsStore {
 public:
  MailSettingsStore(SettingsBackend& backend, std::atomic<std::uint8_t>& mail_request_flags)
      : backend_(backend), mail_request_flags_(mail_request_flags) {}

  // At start: completes an existing key ("UserID" from "Addr", "EMailSend" 0) and requests a
  // load; without a key, sets the default template folder. A key that cannot be read counts as
  // absent and is left as it is until a save replaces it.
  std::optional<std::string> CheckAtStart();

  // Reads everything into a new copy and installs it whole; clears the reload request first, so
  // that one made meanwhile is served again. A failed load keeps the previous copy, leaves the
  // settings not loaded and is not retried until someone requests it again.
  std::optional<std::string> Load();

  // The E-mail page's OK. Writes the changed fields (all of them the first time), the suppression
  // mask, the password when anything changed, the recipients when they differ, "FilePath" and the
  // kind 1 and 2 template files, then requests a reload. `settings_changed_mask` is the page's;
  // clearing it is the page's business. Writes nothing, and says why (kSettingsNotSavedText),
  // when the stored key cannot be read or holds a value of the wrong type, or when a changed host
  // or sender address fails its entry check.
  std::optional<std::string> Save(const MailSettingsEdits& edits,
                                  std::uint8_t settings_changed_mask);

  MailSettings Snapshot() const;

 private:
  void MarkNotLoaded(bool key_exists);
  std::string TemplateFolder(const MailSettings& settings) const;

  SettingsBackend& backend_;
  std::atomic<std::uint8_t>& mail_request_flags_;
  std::mutex io_mutex_;  // one of CheckAtStart, Load, Save at a time
  mutable std::mutex state_mutex_;
  MailSettings state_;
};

}  // namespace raid
