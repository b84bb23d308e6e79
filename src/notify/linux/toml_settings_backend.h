// SPDX-License-Identifier: GPL-2.0-or-later
// The Linux settings store: one toml file, settings.toml, owner-only, replaced as a whole.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "notify/settings_backend.h"

namespace raid {

inline constexpr char kSettingsFileName[] = "settings.toml";
// A settings file larger than this is refused as unreadable.
inline constexpr std::uintmax_t kSettingsFileMaxBytes = 1024 * 1024;

// RAIDGUI_CONFIG_DIR when set, else /etc/raidgui for root and $XDG_CONFIG_HOME/raidgui
// (~/.config/raidgui) for anyone else.
std::filesystem::path SettingsFolder();

// settings.toml in `folder`. The folder is created owner-only when a commit needs it, the file
// owner-only when the first commit writes it; the template folder defaults to `folder`.
std::unique_ptr<SettingsBackend> MakeTomlSettingsBackend(std::filesystem::path folder);

}  // namespace raid
