// SPDX-License-Identifier: GPL-2.0-or-later
// notify.toml is written by hand, or by a tool, and may hold anything. The input is its text, read
// from a folder that also holds a token file (token.txt) and a CA file (ca.pem) a channel may name.
// Whatever is refused is refused as a whole with a message naming the file; every channel taken
// holds what the senders rely on, and the request built for it keeps its headers on one line and
// its JSON well formed.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "events/monitor_events.h"
#include "notify/mail_templates.h"
#include "notify/push/channel_config.h"
#include "notify/push/channel_request.h"
#include "notify/push/notification_text.h"
#include "scratch_folder.h"

namespace {

namespace fs = std::filesystem;

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

const fs::path& Folder() {
  const fs::path& folder = raid::fuzz::ScratchFolder("notify_channels");
  static const bool written = [&] {
    std::ofstream(folder / "token.txt", std::ios::binary) << "tk_from_file\r\n";
    std::ofstream(folder / "ca.pem", std::ios::binary)
        << "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n";
    return true;
  }();
  static_cast<void>(written);
  return folder;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b + 32) : b);
         });
}

bool IsKnownEvent(std::string_view name) {
  using K = raid::MonitorEventKind;
  for (const K kind : {K::kDiskFail, K::kDeviceRemoved, K::kOverHeat, K::kFanFail, K::kDeviceFound,
                       K::kNoResponse, K::kResponding}) {
    if (raid::MonitorEventName(kind) == name) return true;
  }
  return false;
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const fs::path file = Folder() / "notify.toml";
  std::vector<raid::ChannelConfig> channels;
  std::string error;
  if (!raid::ParseNotifyChannels(text, file, channels, error)) {
    Check(channels.empty() && error.starts_with(raid::PathToUtf8(file) + " line "));
    return 0;
  }

  const raid::PushNotification notification = raid::PushTestNotification(
      "fuzz-host", {"System: fuzz"}, std::chrono::sys_days(std::chrono::year(2024) / 3 / 9));
  for (const raid::ChannelConfig& channel : channels) {
    Check(raid::IsUsableChannelName(channel.name));
    Check(std::count_if(channels.begin(), channels.end(), [&](const raid::ChannelConfig& other) {
            return other.name == channel.name;
          }) == 1);
    Check(StartsWithNoCase(channel.url, "http://") || StartsWithNoCase(channel.url, "https://"));
    Check(!channel.events.empty() &&
          std::all_of(channel.events.begin(), channel.events.end(),
                      [](const std::string& e) { return IsKnownEvent(e); }));
    if (channel.type == raid::ChannelType::kMatrix) {
      Check(channel.room.starts_with('!'));
    } else {
      Check(channel.room.empty());
    }
    Check(channel.timeout_seconds >= raid::kMinChannelTimeoutSeconds &&
          channel.timeout_seconds <= raid::kMaxChannelTimeoutSeconds);

    const raid::HttpRequest request = raid::BuildChannelRequest(channel, notification, "fuzz-1");
    Check(!HasLineBreak(request.url));
    bool json = false;
    for (const auto& [name, value] : request.headers) {
      Check(!HasLineBreak(name) && !HasLineBreak(value));
      json = json || (name == "Content-Type" && value == "application/json");
    }
    if (json) Check(nlohmann::json::accept(request.body));
  }
  return 0;
}
