#include "firmware/spi_dump_file.h"

#include <fstream>
#include <string_view>
#include <system_error>

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

}  // namespace

std::optional<std::filesystem::path> FreeSpiDumpPath(const std::filesystem::path& folder,
                                                     int kind) {
  std::optional<std::string> name = FirstName(kind);
  if (!name) return std::nullopt;
  while (NameTaken(folder / *name)) {
    char& counter = (*name)[kCounterPosition];
    if (counter == 'Z') return std::nullopt;
    counter = counter == '9' ? 'A' : static_cast<char>(counter + 1);
  }
  return folder / *name;
}

SpiDumpResult GetSPIFWInfo(const std::filesystem::path& folder, int kind, ConstBytes buffer) {
  SpiDumpResult result;
  const std::optional<std::string> first = FirstName(kind);
  if (!first) return result;
  const std::optional<std::filesystem::path> path = FreeSpiDumpPath(folder, kind);
  if (!path) {
    // Every name is taken: the last one tried is the one reported.
    std::string last = *first;
    last[kCounterPosition] = 'Z';
    result.panel_text = std::string(kNoFreeNameText) + (folder / last).string();
    return result;
  }

  std::ofstream out(*path, std::ios::binary);
  if (!out) {
    result.messages.push_back(
        {std::string(kCaption), std::string(kCreateFailedText), MessageIcon::kError});
    return result;
  }
  out.write(reinterpret_cast<const char*>(buffer.data()),
            static_cast<std::streamsize>(buffer.size()));
  out.close();
  if (!out) {
    // A shortened dump would mislead whoever reads it; the name stays free for the next try.
    std::error_code ignored;
    std::filesystem::remove(*path, ignored);
    result.messages.push_back(
        {std::string(kCaption), std::string(kWriteFailedText), MessageIcon::kError});
    return result;
  }
  result.written = *path;
  result.panel_text = std::string(kSavedText) + path->string();
  return result;
}

}  // namespace raid
