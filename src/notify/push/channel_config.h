// SPDX-License-Identifier: GPL-2.0-or-later
// notify.toml: the push channels, one [[channel]] table each. Whatever the file gets wrong is
// refused as a whole, with a message that names the file and the line, so that a channel the user
// believes in never silently goes missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "notify/push/push_types.h"

namespace raid {

inline constexpr std::size_t kMaxChannelNameLength = 64;
// A channel's `timeout`, in seconds.
inline constexpr std::int64_t kMinChannelTimeoutSeconds = 1;
inline constexpr std::int64_t kMaxChannelTimeoutSeconds = 300;

// "ntfy", "gotify", "webhook", "alertmanager", "discord", "slack", "matrix", "teams".
std::string_view ChannelTypeName(ChannelType type);
std::optional<ChannelType> ChannelTypeFromName(std::string_view name);
// "once", "daily", "diminishing".
std::string_view RemindPolicyName(RemindPolicy policy);

// The hook events a channel hears when its table names none: the alerts, not the good news.
std::vector<std::string> DefaultChannelEvents();

// A name that can stand in a metrics label and a message as it is: letters, digits, '-', '_'
// and '.', 1 to kMaxChannelNameLength of them.
bool IsUsableChannelName(std::string_view name);

// The channels of notify.toml's `text`. `file` names it in messages, and its folder is where a
// relative token_file or ca_file is looked for; both are read at once.
bool ParseNotifyChannels(std::string_view text, const std::filesystem::path& file,
                         std::vector<ChannelConfig>& channels, std::string& error);

// The same from the file itself. A missing file means no channel, and is no error.
bool LoadNotifyChannels(const std::filesystem::path& file, std::vector<ChannelConfig>& channels,
                        std::string& error);

}  // namespace raid
