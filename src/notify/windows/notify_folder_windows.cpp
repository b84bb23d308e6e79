// SPDX-License-Identifier: GPL-2.0-or-later
#include <cstdlib>

#include "notify/push/push_files.h"

namespace raid {

// The mail settings live in the registry; notify.toml is machine-wide, as they are, in the
// folder for all users' program data.
std::filesystem::path NotifyFolder() {
  if (const wchar_t* folder = ::_wgetenv(L"RAIDGUI_CONFIG_DIR"); folder != nullptr && *folder != 0)
    return folder;
  if (const wchar_t* data = ::_wgetenv(L"ProgramData"); data != nullptr && *data != 0)
    return std::filesystem::path(data) / L"raidgui";
  return L"C:\\ProgramData\\raidgui";
}

}  // namespace raid
