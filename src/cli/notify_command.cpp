// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/notify_command.h"

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <vector>

#include "cli/json_output.h"
#include "common/clock.h"
#include "notify/push/channel_config.h"
#include "notify/push/delivery_judge.h"
#include "notify/push/notification_text.h"
#include "notify/push/push_files.h"
#include "notify/push/push_notifier.h"
#include "sysinfo/host_info.h"

namespace raid::cli {
namespace {

// Exit status of a command that could not read what it was asked to work on.
constexpr int kUnusableInput = 2;

std::filesystem::path NotifyFile() {
  return NotifyFolder() / kNotifyFileName;
}

// The channels of notify.toml; false, with the message printed, when the file cannot be used.
// A missing file is refused only where `required`.
bool LoadChannels(std::vector<ChannelConfig>& channels, bool required) {
  const std::filesystem::path file = NotifyFile();
  std::error_code error_code;
  if (required && !std::filesystem::exists(file, error_code)) {
    std::fprintf(stderr, "raidctl: no push channels: %s does not exist\n", file.string().c_str());
    return false;
  }
  std::string error;
  if (!LoadNotifyChannels(file, channels, error)) {
    std::fprintf(stderr, "raidctl: %s\n", error.c_str());
    return false;
  }
  return true;
}

}  // namespace

int RunNotifyShowCommand(bool json) {
  std::vector<ChannelConfig> channels;
  if (!LoadChannels(channels, false)) return kUnusableInput;
  const std::string location = NotifyFile().string();
  if (json) {
    nlohmann::json list = nlohmann::json::array();
    for (const ChannelConfig& channel : channels) {
      nlohmann::json entry = {
          {"name", channel.name},      {"type", ChannelTypeName(channel.type)},
          {"url", MaskedUrl(channel)}, {"token", channel.token.empty() ? "none" : "set"},
          {"events", channel.events},  {"remind", RemindPolicyName(channel.remind)}};
      if (!channel.room.empty()) entry["room"] = channel.room;
      if (!channel.ca_file.empty()) entry["ca_file"] = channel.ca_file;
      list.push_back(std::move(entry));
    }
    std::fputs(JsonDocumentText({{"location", location}, {"channels", list}}).c_str(), stdout);
    return 0;
  }
  if (channels.empty()) {
    std::printf("No push channels in %s.\n", location.c_str());
    return 0;
  }
  std::printf("Channels in %s\n", location.c_str());
  for (const ChannelConfig& channel : channels) {
    std::string events;
    for (const std::string& event : channel.events)
      events += (events.empty() ? "" : ", ") + event;
    std::printf("%s\n  type    %s\n  url     %s\n  token   %s\n  events  %s\n  remind  %s\n",
                channel.name.c_str(), std::string(ChannelTypeName(channel.type)).c_str(),
                MaskedUrl(channel).c_str(), channel.token.empty() ? "none" : "set", events.c_str(),
                std::string(RemindPolicyName(channel.remind)).c_str());
    if (!channel.room.empty()) std::printf("  room    %s\n", channel.room.c_str());
  }
  return 0;
}

int RunNotifyTestCommand(const std::optional<std::string>& channel) {
  std::vector<ChannelConfig> channels;
  if (!LoadChannels(channels, true)) return kUnusableInput;
  if (channels.empty()) {
    std::fprintf(stderr, "raidctl: %s names no channel\n", NotifyFile().string().c_str());
    return kUnusableInput;
  }
  std::string why;
  HttpClientFactory factory = MakeHttpClientFactory(why);
  if (!factory) {
    std::fprintf(stderr, "raidctl: %s\n", why.c_str());
    return 1;
  }
  if (!InitializeComForHostQueries()) std::fprintf(stderr, "raidctl: %s\n", kComSecurityErrorText);
  const HostFacts facts = QueryHostFacts(CreatePlatformHostInfo());
  SystemClock clock;
  const PushNotification test =
      PushTestNotification(facts.system_name, SystemInfoLines(facts), clock.WallNow());

  PushNotifier notifier(std::move(channels), std::move(factory), clock);
  std::vector<ChannelOutcome> outcomes;
  std::string error;
  if (!notifier.SendTestNow(channel.value_or(""), test, outcomes, error)) {
    std::fprintf(stderr, "raidctl: %s\n", error.c_str());
    return kUnusableInput;
  }
  bool all_delivered = true;
  for (const ChannelOutcome& outcome : outcomes) {
    std::printf("%s\n", OutcomeText(outcome.channel, outcome.outcome).c_str());
    all_delivered = all_delivered && outcome.outcome.kind == DeliveryKind::kDelivered;
  }
  std::fflush(stdout);
  notifier.Stop();
  return all_delivered ? 0 : 1;
}

}  // namespace raid::cli
