// SPDX-License-Identifier: GPL-2.0-or-later
// The Windows settings store: values in one registry key.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "notify/settings_backend.h"

namespace raid {

// Below HKEY_LOCAL_MACHINE.
inline constexpr char kSettingsKeyPath[] = "SOFTWARE\\QK_RAID_GUI";

// Values under `key_path` (UTF-8) of `root` (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER): strings as
// REG_SZ, binary as REG_BINARY, integers as REG_DWORD. The template folder defaults to the
// Windows system directory.
std::unique_ptr<SettingsBackend> MakeRegistrySettingsBackend(HKEY root, std::string key_path);

}  // namespace raid
