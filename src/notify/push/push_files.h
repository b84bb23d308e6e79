// SPDX-License-Identifier: GPL-2.0-or-later
// The files the push channels read: notify.toml, a token file, a CA file. Each is read as the
// settings are: a regular file only (a FIFO, a device or a folder fails at once), bounded in
// size, and on Linux through a symbolic link only when the link and its folder belong to the
// user running the program or to root, so that nobody else can choose what we read as a secret.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace raid {

inline constexpr char kNotifyFileName[] = "notify.toml";
inline constexpr std::uintmax_t kNotifyFileMaxBytes = 1024 * 1024;
inline constexpr std::uintmax_t kTokenFileMaxBytes = 64 * 1024;
inline constexpr std::uintmax_t kCaFileMaxBytes = 1024 * 1024;

// The folder notify.toml is in: RAIDGUI_CONFIG_DIR when set; else the settings folder on Linux,
// %ProgramData%\raidgui on Windows. One implementation per platform.
std::filesystem::path NotifyFolder();

// The whole of `path`, at most `max_bytes`; false with a message that names the file otherwise.
bool ReadPushFile(const std::filesystem::path& path, std::uintmax_t max_bytes, std::string& content,
                  std::string& error);

}  // namespace raid
