// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/windows/registry_settings_backend.h"

#include <cstring>
#include <vector>

#include "common/windows/wide_text.h"

namespace raid {
namespace {

std::string RootName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  return "HKEY";
}

class RegistrySettingsBackend final : public SettingsBackend {
 public:
  RegistrySettingsBackend(HKEY root, std::string key_path)
      : root_(root), key_path_(std::move(key_path)), wide_path_(Widen(key_path_)) {}
  ~RegistrySettingsBackend() override { Close(); }
  RegistrySettingsBackend(const RegistrySettingsBackend&) = delete;
  RegistrySettingsBackend& operator=(const RegistrySettingsBackend&) = delete;

  // Opens the key afresh, so that one deleted and made again meanwhile is the one read.
  bool Refresh() override {
    Close();
    LONG result = ::RegOpenKeyExW(root_, wide_path_.c_str(), 0, KEY_READ | KEY_WRITE, &key_);
    if (result == ERROR_ACCESS_DENIED) {
      // Reading needs no right to write; a save will say it cannot.
      result = ::RegOpenKeyExW(root_, wide_path_.c_str(), 0, KEY_READ, &key_);
    }
    if (result == ERROR_SUCCESS) return true;
    key_ = nullptr;
    if (result == ERROR_FILE_NOT_FOUND) return true;
    return Failed("cannot open", result);
  }

  bool KeyExists() override {
    HKEY probe = nullptr;
    if (::RegOpenKeyExW(root_, wide_path_.c_str(), 0, KEY_READ, &probe) != ERROR_SUCCESS) {
      return false;
    }
    ::RegCloseKey(probe);
    return true;
  }

  bool CreateKey() override {
    HKEY key = nullptr;
    const LONG result = ::RegCreateKeyExW(root_, wide_path_.c_str(), 0, nullptr, 0,
                                          KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) return Failed("cannot create", result);
    Close();
    key_ = key;
    return true;
  }

  std::vector<std::string> ValueNames() override {
    std::vector<std::string> names;
    if (key_ == nullptr) return names;
    constexpr DWORD kLongestName = 16384;  // the registry's limit, with the terminator
    std::wstring name(kLongestName, L'\0');
    for (DWORD index = 0;; ++index) {
      DWORD length = kLongestName;
      if (::RegEnumValueW(key_, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      names.push_back(Narrow(std::wstring_view(name.data(), length)));
    }
    return names;
  }

  std::optional<std::string> ReadString(std::string_view name) override {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!Query(name, type, data) || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    // Stored strings need not end in a terminator, and may hold one early.
    text.resize(std::wcslen(text.c_str()));
    return Narrow(text);
  }

  std::optional<std::vector<std::uint8_t>> ReadBinary(std::string_view name) override {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!Query(name, type, data) || type != REG_BINARY) return std::nullopt;
    return std::vector<std::uint8_t>(data.begin(), data.end());
  }

  std::optional<std::uint32_t> ReadInteger(std::string_view name) override {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!Query(name, type, data) || type != REG_DWORD || data.size() != sizeof(DWORD)) {
      return std::nullopt;
    }
    DWORD value = 0;
    std::memcpy(&value, data.data(), sizeof value);
    return value;
  }

  bool WriteString(std::string_view name, std::string_view value) override {
    const std::wstring wide = Widen(value);
    return Set(name, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
               (wide.size() + 1) * sizeof(wchar_t));
  }

  bool WriteBinary(std::string_view name, std::span<const std::uint8_t> value) override {
    return Set(name, REG_BINARY, value.data(), value.size());
  }

  bool WriteInteger(std::string_view name, std::uint32_t value) override {
    const DWORD dword = value;
    return Set(name, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), sizeof dword);
  }

  bool Commit() override {
    if (key_ == nullptr) return true;
    const LONG result = ::RegFlushKey(key_);
    return result == ERROR_SUCCESS || Failed("cannot write", result);
  }

  const std::string& error() const override { return error_; }
  std::string Location() const override { return RootName(root_) + "\\" + key_path_; }

  std::string DefaultTemplateFolder() const override {
    std::wstring folder(MAX_PATH, L'\0');
    UINT length = ::GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
    if (length >= folder.size()) {
      folder.resize(length);
      length = ::GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
    }
    folder.resize(length);
    return Narrow(folder) + "\\";
  }

 private:
  void Close() {
    if (key_ != nullptr) ::RegCloseKey(key_);
    key_ = nullptr;
  }

  bool Failed(const std::string& what, LONG result) {
    error_ = what + " " + Location() + ": error " + std::to_string(result);
    return false;
  }

  // The value as stored, whatever its size: it is never trusted to be the size its type suggests.
  bool Query(std::string_view name, DWORD& type, std::vector<BYTE>& data) {
    if (key_ == nullptr) return false;
    const std::wstring wide = Widen(name);
    for (int attempt = 0; attempt < 4; ++attempt) {  // it may grow between the two calls
      DWORD size = 0;
      if (::RegQueryValueExW(key_, wide.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return false;
      }
      data.resize(size);
      const LONG result =
          ::RegQueryValueExW(key_, wide.c_str(), nullptr, &type, data.data(), &size);
      if (result == ERROR_MORE_DATA) continue;
      if (result != ERROR_SUCCESS) return false;
      data.resize(size);
      return true;
    }
    return false;
  }

  bool Set(std::string_view name, DWORD type, const BYTE* data, std::size_t size) {
    if (key_ == nullptr) {
      error_ = "cannot write " + Location() + ": the key is not open";
      return false;
    }
    const LONG result =
        ::RegSetValueExW(key_, Widen(name).c_str(), 0, type, data, static_cast<DWORD>(size));
    return result == ERROR_SUCCESS || Failed("cannot write " + std::string(name) + " in", result);
  }

  HKEY root_;
  std::string key_path_;
  std::wstring wide_path_;
  HKEY key_ = nullptr;
  std::string error_;
};

}  // namespace

std::unique_ptr<SettingsBackend> MakeRegistrySettingsBackend(HKEY root, std::string key_path) {
  return std::make_unique<RegistrySettingsBackend>(root, std::move(key_path));
}

std::unique_ptr<SettingsBackend> MakePlatformSettingsBackend() {
  return MakeRegistrySettingsBackend(HKEY_LOCAL_MACHINE, kSettingsKeyPath);
}

}  // namespace raid
