// SPDX-License-Identifier: GPL-2.0-or-later
// The mount table of /proc/self/mountinfo, which (unlike /proc/mounts) carries the device
// number of every mount.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace raid {

struct MountEntry {
  unsigned major = 0;
  unsigned minor = 0;
  std::string mount_point;  // unescaped
  std::string fs_type;
  std::string source;  // unescaped: /dev/sdb1, tmpfs, ...
};

// The entries in file order; lines that do not have the mountinfo shape are left out.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// Undoes the kernel's \ooo escapes (space, tab, line feed, backslash) of a mountinfo field.
std::string UnescapeMountField(std::string_view field);

}  // namespace raid
