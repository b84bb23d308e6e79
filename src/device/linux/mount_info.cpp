// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/linux/mount_info.h"

#include <charconv>
#include <utility>

namespace raid {

namespace {

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t pos = 0;
  while (pos < line.size()) {
    const std::size_t end = line.find(' ', pos);
    const std::size_t stop = end == std::string_view::npos ? line.size() : end;
    if (stop > pos) fields.push_back(line.substr(pos, stop - pos));
    pos = stop + 1;
  }
  return fields;
}

bool ParseUnsigned(std::string_view text, unsigned& value) {
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size() && !text.empty();
}

bool IsOctalDigit(char c) {
  return c >= '0' && c <= '7';
}

}  // namespace

std::string UnescapeMountField(std::string_view field) {
  std::string text;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && IsOctalDigit(field[i + 1]) &&
        IsOctalDigit(field[i + 2]) && IsOctalDigit(field[i + 3])) {
      text += static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                                (field[i + 3] - '0'));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  // 36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw,errors=continue
  // (mount id, parent id, major:minor, root, mount point, options, optional fields up to "-",
  // then file system type, source, super options)
  std::vector<MountEntry> entries;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find('\n', pos);
    const std::size_t stop = end == std::string_view::npos ? text.size() : end;
    const std::vector<std::string_view> fields = SplitFields(text.substr(pos, stop - pos));
    pos = stop + 1;

    std::size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-")
      ++separator;
    if (separator + 2 >= fields.size()) continue;

    const std::string_view device = fields[2];
    const std::size_t colon = device.find(':');
    MountEntry entry;
    if (colon == std::string_view::npos || !ParseUnsigned(device.substr(0, colon), entry.major) ||
        !ParseUnsigned(device.substr(colon + 1), entry.minor)) {
      continue;
    }
    entry.mount_point = UnescapeMountField(fields[4]);
    entry.fs_type = UnescapeMountField(fields[separator + 1]);
    entry.source = UnescapeMountField(fields[separator + 2]);
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace raid
