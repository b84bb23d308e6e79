// SPDX-License-Identifier: GPL-2.0-or-later
#include "firmware/spi_dump_file.h"

#include <string_view>
#include <system_error>

#include "common/platform_files.h"

namespace raid {

namespace {

constexpr std::string_view kCaption = "GetSPIFWInfo:";
constexpr std::string_view kCreateFailedText = "Fail to create file";
constexpr std::string_view kWriteFailedText = "Fail to write file";
constexpr std::string_view kNoFreeNameText = "Create File Error";
constexpr std::string_view kSavedText = "Svae File OK :";
constexpr std::size_t kCounterPosition = 7;  // the second '0' of "dSMART00.bin"

std::optional<std::string> FirstName(int kind) {
  if (kind == kSpiDumpSmartData) return "dSMART00.bin";
  if (kind == kSpiDumpSmartThresholds) return "sSMART00.bin";
  return std::nullopt;
}

// Anything but a plain "not there" counts as taken: a dangling link or an unreadable entry
// must not be written through.
bool NameTaken(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
  return status.type() != std::filesystem::file_type::not_found;
}

// Advances the eighth character through 0-9 and A-Z; false past 'Z'.
bool NextName(std::string& name) {
  char& counter = name[kCounterPosition];
  if (counter == 'Z') return false;
  counter = counter == '9' ? 'A' : static_cast<char>(counter + 1);
  return true;
}

// `name` or the first free name after it.
std::optional<std::string> FreeName(const std::filesystem::path& folder, std::string name) {
  while (NameTaken(folder / name)) {
    if (!NextName(name)) return std::nullopt;
  }
  return name;
}

SpiDumpResult NoFreeName(const std::filesystem::path& folder, std::string name) {
  // The last one tried is the one reported.
  name[kCounterPosition] = 'Z';
  SpiDumpResult result;
  result.panel_text = std::string(kNoFreeNameText) + (folder / name).string();
  return result;
}

SpiDumpResult Failed(std::string_view text) {
  SpiDumpResult result;
  result.messages.push_back({std::string(kCaption), std::string(text), MessageIcon::kError});
  return result;
}

}  // namespace

std::optional<std::filesystem::path> FreeSpiDumpPath(const std::filesystem::path& folder,
                                                     int kind) {
  const std::optional<std::string> first = FirstName(kind);
  if (!first) return std::nullopt;
  const std::optional<std::string> name = FreeName(folder, *first);
  if (!name) return std::nullopt;
  return folder / *name;
}

SpiDumpResult GetSPIFWInfo(const std::filesystem::path& folder, int kind, ConstBytes buffer) {
  const std::optional<std::string> first = FirstName(kind);
  if (!first) return {};
  const std::string_view bytes(reinterpret_cast<const char*>(buffer.data()), buffer.size());
  std::string name = *first;
  for (;;) {
    const std::optional<std::string> free = FreeName(folder, name);
    if (!free) return NoFreeName(folder, name);
    name = *free;
    const std::filesystem::path path = folder / name;
    std::string error;
    switch (WriteNewFile(path, bytes, error)) {
      case NewFileResult::kWritten: {
        SpiDumpResult result;
        result.written = path;
        result.panel_text = std::string(kSavedText) + path.string();
        return result;
      }
      case NewFileResult::kNameTaken:
        // Taken since the look, by a file or a link: never written through, the next is tried.
        if (!NextName(name)) return NoFreeName(folder, name);
        break;
      case NewFileResult::kCannotCreate:
        return Failed(kCreateFailedText);
      case NewFileResult::kCannotWrite:
        // A shortened dump would mislead whoever reads it: it is gone, the name free again.
        return Failed(kWriteFailedText);
    }
  }
}

}  // namespace raid
