// SPDX-License-Identifier: GPL-2.0-or-later
// Where the mail settings persist: typed values (string, binary, integer) under one key. The
// registry key on Windows, one toml file on Linux; a memory store in tests.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace raid {

// Not thread-safe: the settings store serialises every use.
class SettingsBackend {
 public:
  virtual ~SettingsBackend() = default;

  // Reads the key afresh and drops writes that were not committed. False when the key is there
  // but cannot be read (error() says why, with the line for a file that does not parse); it then
  // counts as absent until a commit replaces it.
  virtual bool Refresh() = 0;
  // Whether the key exists (as of the last Refresh on a file; written keys exist at once).
  virtual bool KeyExists() = 0;
  // Opens the key, creating it when missing.
  virtual bool CreateKey() = 0;
  virtual std::vector<std::string> ValueNames() = 0;

  // Empty when the value is missing or of another type. Strings are UTF-8.
  virtual std::optional<std::string> ReadString(std::string_view name) = 0;
  virtual std::optional<std::vector<std::uint8_t>> ReadBinary(std::string_view name) = 0;
  virtual std::optional<std::uint32_t> ReadInteger(std::string_view name) = 0;

  virtual bool WriteString(std::string_view name, std::string_view value) = 0;
  virtual bool WriteBinary(std::string_view name, std::span<const std::uint8_t> value) = 0;
  virtual bool WriteInteger(std::string_view name, std::uint32_t value) = 0;

  // Makes the writes since the last Refresh durable. The file is replaced as a whole, so a save
  // cut short leaves the previous settings; the registry flushes the key.
  virtual bool Commit() = 0;

  // Why the last failed call failed.
  virtual const std::string& error() const = 0;
  // The key or file, for messages.
  virtual std::string Location() const = 0;
  // The template folder when "FilePath" names none, ending in the platform's separator (UTF-8).
  virtual std::string DefaultTemplateFolder() const = 0;
};

// The program's store: HKEY_LOCAL_MACHINE\SOFTWARE\QK_RAID_GUI on Windows, settings.toml in the
// settings folder on Linux.
std::unique_ptr<SettingsBackend> MakePlatformSettingsBackend();

}  // namespace raid
