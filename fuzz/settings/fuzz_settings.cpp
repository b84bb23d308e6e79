// SPDX-License-Identifier: GPL-2.0-or-later
// The settings file and the mail templates are read back from disk, where the user's editor, a
// copy from another machine or a crash may have left any bytes. The input is settings.toml,
// optionally followed by a line "#%template" and the contents of a template file:
//   settings.toml bytes
//   #%template
//   template bytes
// Without that line the whole input is both. The settings go through the real store as the
// program starts: CheckAtStart, then Load.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "notify/linux/toml_document_writer.h"
#include "notify/linux/toml_settings_backend.h"
#include "notify/mail_settings.h"
#include "notify/mail_templates.h"
#include "scratch_folder.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSeparator = "\n#%template\n";

const fs::path& Folder() {
  return raid::fuzz::ScratchFolder("settings");
}

// A new file each time: truncating one makes ext4 flush it to disk when it is closed.
bool PutFile(const fs::path& path, std::string_view bytes) {
  std::error_code ignored;
  fs::remove(path, ignored);
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string FileBytes(const fs::path& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

// The template reader: lines never hold a line feed, every line feed ends exactly one line, and
// what the writer writes reads back as the same lines.
void CheckTemplate(std::string_view content, const fs::path& file) {
  const std::vector<std::string> lines = raid::SplitTemplateLines(content);
  std::size_t feeds = 0;
  for (const char c : content)
    feeds += c == '\n' ? 1 : 0;
  const bool open_end = !content.empty() && content.back() != '\n';
  Check(lines.size() == feeds + (open_end ? 1 : 0));
  for (const std::string& line : lines)
    Check(line.find('\n') == std::string::npos);

  std::string error;
  std::vector<std::string> read;
  Check(PutFile(file, content));
  Check(raid::ReadTemplateFile(file, read, error));
  Check(read == lines);
  Check(raid::WriteTemplateFile(file, lines, error));
  Check(raid::ReadTemplateFile(file, read, error));
  Check(read == lines);
}

// Whatever parsed, the writer writes as text that parses to what it wrote again (compared as text:
// a NaN is not equal to itself).
void CheckWriterRoundTrip(std::string_view text) {
  toml::table parsed;
  try {
    parsed = toml::parse(text);
  } catch (const toml::parse_error&) {
    return;
  }
  const std::string written = raid::TomlDocumentText(parsed);
  try {
    Check(raid::TomlDocumentText(toml::parse(written)) == written);
  } catch (const toml::parse_error&) {
    Check(false);
  }
}

}  // namespace

// Every run rewrites the settings and a template file. What is written matters here, not that it
// reaches the disk: a flush per run would slow the fuzzer tenfold. Calls from the code under test
// bind to this definition before the C library's.
extern "C" int fsync(int) {
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view settings_text = input;
  std::string_view template_text = input;
  if (const std::size_t at = input.find(kSeparator); at != std::string_view::npos) {
    settings_text = input.substr(0, at);
    template_text = input.substr(at + kSeparator.size());
  }

  CheckWriterRoundTrip(settings_text);

  const fs::path& folder = Folder();
  const fs::path file = folder / raid::kSettingsFileName;
  const fs::path contents = raid::TemplateFilePath(
      raid::PathToUtf8(folder), raid::AlertKind::kHardDisksFail, raid::TemplatePart::kContents);
  CheckTemplate(template_text, contents);
  // The store's template is the input's, not the one the writer wrote back.
  if (!PutFile(contents, template_text) || !PutFile(file, settings_text)) return 0;

  // Whether the file parses, as a reader that writes nothing sees it.
  const bool parses = raid::MakeTomlSettingsBackend(folder)->Refresh();

  auto backend = raid::MakeTomlSettingsBackend(folder);
  std::atomic<std::uint8_t> flags{0};
  raid::MailSettingsStore store(*backend, flags);
  const std::optional<std::string> start_problem = store.CheckAtStart();
  const bool key = store.Snapshot().key_exists;
  if (!parses) {
    // Reported, then treated as absent: no load is requested and nothing is written.
    Check(start_problem.has_value() && !key && flags == 0);
    Check(FileBytes(file) == settings_text);
  } else {
    // Completing a key that parsed always works, and what it wrote parses again.
    Check(!start_problem.has_value());
    Check(key == ((flags & raid::kMailRequestReload) != 0));
    Check(raid::MakeTomlSettingsBackend(folder)->Refresh());
  }
  const std::string after_start = FileBytes(file);

  const std::optional<std::string> load_problem = store.Load();
  const raid::MailSettings settings = store.Snapshot();
  Check(FileBytes(file) == after_start);  // a load never writes
  Check(settings.recipients.size() <= raid::kMaxRecipients);
  Check(settings.recipient_count == settings.recipients.size());
  Check(settings.settings_list.empty() || settings.settings_list.size() == raid::kSettingCount);
  for (const std::string& recipient : settings.recipients)
    Check(!recipient.empty());
  Check(settings.loaded == key);
  if (!settings.loaded) {
    Check(load_problem.has_value() && settings.settings_list.empty());
    return 0;
  }
  Check(settings.settings_list.size() == raid::kSettingCount);
  const raid::UnscrambledPassword password = raid::UnscramblePassword(raid::ScramblePassword(
      settings.Setting(raid::kSettingPassword), settings.LoginAuthentication(), 0));
  if (settings.auth_status != raid::kAuthUnreadable) {
    // A readable password is at most the stored length and survives a save unchanged.
    Check(settings.Setting(raid::kSettingPassword).size() <= raid::kMaxPasswordLength);
    Check(password.password == settings.Setting(raid::kSettingPassword));
    Check(password.auth_status == settings.auth_status);
  }
  if (settings.file_path == raid::PathToUtf8(folder / "")) {
    Check(settings.Contents(raid::AlertKind::kHardDisksFail) ==
          raid::SplitTemplateLines(template_text));
  }
  return 0;
}
