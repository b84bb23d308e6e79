// SPDX-License-Identifier: GPL-2.0-or-later
// A SettingsBackend in memory: what a commit stored, what a save wrote, and failures on demand.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "notify/settings_backend.h"

namespace raid::testing {

class MemorySettingsBackend : public SettingsBackend {
 public:
  using Value = std::variant<std::string, std::vector<std::uint8_t>, std::uint32_t>;

  explicit MemorySettingsBackend(std::string template_folder = "/templates/")
      : template_folder_(std::move(template_folder)) {}

  // The committed state; tests set it up and look at it.
  bool stored_exists = false;
  std::map<std::string, Value, std::less<>> stored;

  std::vector<std::string> written;  // names, in order, since the test last cleared it
  std::string fail_write;            // writing this name fails
  bool fail_commit = false;
  std::string fail_refresh;       // Refresh fails with this reason
  std::function<void()> on_read;  // runs at every read

  bool Refresh() override {
    pending_exists_ = stored_exists;
    pending_ = stored;
    if (fail_refresh.empty()) return true;
    pending_exists_ = false;
    pending_.clear();
    error_ = fail_refresh;
    return false;
  }
  bool KeyExists() override { return pending_exists_; }
  bool CreateKey() override { return pending_exists_ = true; }
  std::vector<std::string> ValueNames() override {
    std::vector<std::string> names;
    for (const auto& [name, value] : pending_)
      names.push_back(name);
    return names;
  }
  std::optional<std::string> ReadString(std::string_view name) override {
    return Read<std::string>(name);
  }
  std::optional<std::vector<std::uint8_t>> ReadBinary(std::string_view name) override {
    return Read<std::vector<std::uint8_t>>(name);
  }
  std::optional<std::uint32_t> ReadInteger(std::string_view name) override {
    return Read<std::uint32_t>(name);
  }
  bool WriteString(std::string_view name, std::string_view value) override {
    return Write(name, std::string(value));
  }
  bool WriteBinary(std::string_view name, std::span<const std::uint8_t> value) override {
    return Write(name, std::vector<std::uint8_t>(value.begin(), value.end()));
  }
  bool WriteInteger(std::string_view name, std::uint32_t value) override {
    return Write(name, value);
  }
  bool Commit() override {
    if (fail_commit) {
      error_ = "commit refused";
      return false;
    }
    stored_exists = pending_exists_;
    stored = pending_;
    return true;
  }
  const std::string& error() const override { return error_; }
  std::string Location() const override { return "memory"; }
  std::string DefaultTemplateFolder() const override { return template_folder_; }

 private:
  template <typename T>
  std::optional<T> Read(std::string_view name) {
    if (on_read) on_read();
    const auto it = pending_.find(name);
    if (it == pending_.end() || !std::holds_alternative<T>(it->second)) return std::nullopt;
    return std::get<T>(it->second);
  }
  bool Write(std::string_view name, Value value) {
    written.emplace_back(name);
    if (name == fail_write) {
      error_ = "write refused";
      return false;
    }
    pending_[std::string(name)] = std::move(value);
    return true;
  }

  std::string template_folder_;
  bool pending_exists_ = false;
  std::map<std::string, Value, std::less<>> pending_;
  std::string error_;
};

}  // namespace raid::testing
