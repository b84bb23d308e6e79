// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/linux/toml_settings_backend.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <limits>
#include "common/toml.h"

#include "common/platform_files.h"
#include "common/text_helpers.h"
#include "notify/linux/toml_document_writer.h"
#include "notify/mail_templates.h"

namespace raid {
namespace {

constexpr std::string_view kFileHeader =
    "# raidgui mail settings, rewritten as a whole by every save from the E-mail page.\n";

// TOML strings hold Unicode text only; anything else would be written mangled.
bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8SequenceLength(text.substr(i));
    if (length == 0) return false;
    i += length;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class TomlSettingsBackend final : public SettingsBackend {
 public:
  explicit TomlSettingsBackend(std::filesystem::path folder)
      : folder_(std::move(folder)), file_(folder_ / kSettingsFileName) {}

  bool Refresh() override {
    table_ = toml::table{};
    exists_ = false;
    dirty_ = false;
    std::string what;
    if (ExaminePath(file_, what) == PathKind::kMissing) return true;
    std::string content;
    if (!ReadRegularFile(file_, content, error_, kSettingsFileMaxBytes)) return false;
    // An empty file (an earlier version's first save cut short): no settings, as before it.
    if (content.empty()) return true;
    try {
      table_ = toml::parse(std::string_view(content), std::string_view(file_.native()));
    } catch (const toml::parse_error& failure) {
      error_ = file_.string() + " line " + std::to_string(failure.source().begin.line) + ": " +
               std::string(failure.description());
      table_ = toml::table{};
      return false;
    }
    exists_ = true;
    return true;
  }

  bool KeyExists() override { return exists_; }

  bool CreateKey() override {
    if (!exists_) dirty_ = true;
    exists_ = true;
    return true;
  }

  std::vector<std::string> ValueNames() override {
    std::vector<std::string> names;
    for (const auto& [name, value] : table_)
      names.emplace_back(name.str());
    return names;
  }

  std::optional<std::string> ReadString(std::string_view name) override {
    const toml::node* node = table_.get(name);
    if (node == nullptr || !node->is_string()) return std::nullopt;
    return node->as_string()->get();
  }

  // An array of integers 0-255, or the bytes as hexadecimal text.
  std::optional<std::vector<std::uint8_t>> ReadBinary(std::string_view name) override {
    const toml::node* node = table_.get(name);
    if (node == nullptr) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    if (const toml::array* array = node->as_array()) {
      for (const toml::node& element : *array) {
        const toml::value<std::int64_t>* integer = element.as_integer();
        if (integer == nullptr || integer->get() < 0 || integer->get() > 255) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(integer->get()));
      }
      return bytes;
    }
    if (const toml::value<std::string>* text = node->as_string()) {
      const std::string& hex = text->get();
      if (hex.size() % 2 != 0) return std::nullopt;
      for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexDigit(hex[i]);
        const int low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
      }
      return bytes;
    }
    return std::nullopt;
  }

  std::optional<std::uint32_t> ReadInteger(std::string_view name) override {
    const toml::node* node = table_.get(name);
    if (node == nullptr || !node->is_integer()) return std::nullopt;
    const std::int64_t value = node->as_integer()->get();
    if (value < 0 || value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(value);
  }

  bool WriteString(std::string_view name, std::string_view value) override {
    if (!IsUtf8(value)) {
      error_ = "the value " + std::string(name) + " is not UTF-8 text";
      return false;
    }
    table_.insert_or_assign(name, std::string(value));
    return Wrote();
  }

  bool WriteBinary(std::string_view name, std::span<const std::uint8_t> value) override {
    toml::array bytes;
    for (const std::uint8_t byte : value)
      bytes.push_back(std::int64_t{byte});
    table_.insert_or_assign(name, std::move(bytes));
    return Wrote();
  }

  bool WriteInteger(std::string_view name, std::uint32_t value) override {
    table_.insert_or_assign(name, std::int64_t{value});
    return Wrote();
  }

  bool Commit() override {
    if (!dirty_) return true;
    if (!MakeFolder()) return false;
    // Not toml++'s own writer: it drops the first line break of a multi-line string and leaves
    // keys with quotes bare, so what it wrote would not always read back.
    const std::string text = std::string(kFileHeader) + TomlDocumentText(table_);
    // The file holds the scrambled password: owner-only, also when someone had made it readable
    // to others (an editor, a copy), and never created otherwise.
    if (!ReplaceFileContents(file_, text, FileAccess::kOwnerOnly, error_)) return false;
    dirty_ = false;
    return true;
  }

  const std::string& error() const override { return error_; }
  std::string Location() const override { return file_.string(); }
  std::string DefaultTemplateFolder() const override {
    return PathToUtf8(folder_ / "");  // with its trailing separator
  }

 private:
  bool Wrote() {
    exists_ = true;
    dirty_ = true;
    return true;
  }

  // The folder holds the scrambled password: only its owner may look in when we create it.
  bool MakeFolder() {
    std::string what;
    if (ExaminePath(folder_, what) != PathKind::kMissing) return true;
    std::error_code failure;
    if (folder_.has_parent_path())
      std::filesystem::create_directories(folder_.parent_path(), failure);
    if (!failure && ::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) {
      failure = std::error_code(errno, std::generic_category());
    }
    if (!failure) return true;
    error_ = "cannot create " + folder_.string() + ": " + failure.message();
    return false;
  }

  std::filesystem::path folder_;
  std::filesystem::path file_;
  toml::table table_;
  bool exists_ = false;
  bool dirty_ = false;
  std::string error_;
};

}  // namespace

std::filesystem::path SettingsFolder() {
  if (const char* folder = std::getenv("RAIDGUI_CONFIG_DIR"); folder != nullptr && *folder != 0) {
    return folder;
  }
  if (::geteuid() == 0) return "/etc/raidgui";
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != 0) {
    return std::filesystem::path(config) / "raidgui";
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : ".") / ".config" / "raidgui";
}

std::unique_ptr<SettingsBackend> MakeTomlSettingsBackend(std::filesystem::path folder) {
  return std::make_unique<TomlSettingsBackend>(std::move(folder));
}

std::unique_ptr<SettingsBackend> MakePlatformSettingsBackend() {
  return MakeTomlSettingsBackend(SettingsFolder());
}

}  // namespace raid
