// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/monitor_push.h"

#include <cstdio>
#include <filesystem>
#include <utility>

#include "cli/notify_command.h"
#include "notify/push/channel_config.h"
#include "notify/push/delivery_judge.h"
#include "notify/push/push_files.h"
#include "sysinfo/host_info.h"

namespace raid::cli {

std::unique_ptr<MonitorPush> MonitorPush::Start() {
  const std::filesystem::path file = NotifyFolder() / kNotifyFileName;
  std::vector<ChannelConfig> channels;
  std::string error;
  if (!LoadNotifyChannels(file, channels, error)) {
    std::fprintf(stderr, "raidctl: push channels are off: %s\n", error.c_str());
    return nullptr;
  }
  if (channels.empty()) return nullptr;  // no notify.toml: nothing to say
  std::string why;
  HttpClientFactory factory = MakeHttpClientFactory(why);
  if (!factory) {
    std::fprintf(stderr, "raidctl: push channels are off: %s\n", why.c_str());
    return nullptr;
  }
  std::string names;
  for (const ChannelConfig& channel : channels)
    names += (names.empty() ? "" : ", ") + channel.name;
  std::fprintf(stderr, "raidctl: alerts also go to %zu push channel(s): %s\n", channels.size(),
               names.c_str());
  return std::unique_ptr<MonitorPush>(
      new MonitorPush(std::move(channels), std::move(factory),
                      QueryHostFacts(CreatePlatformHostInfo()).system_name));
}

MonitorPush::MonitorPush(std::vector<ChannelConfig> channels, HttpClientFactory factory,
                         std::string host)
    : push_(
          std::move(channels), std::move(factory), std::move(host),
          [](const std::string& channel, const PushNotification&, const DeliveryOutcome& outcome) {
            std::fprintf(stderr, "raidctl: push %s\n", OutcomeText(channel, outcome).c_str());
          }) {}

MonitorPush::~MonitorPush() {
  FinishStop();
}

void MonitorPush::FinishStop() {
  if (std::exchange(finished_, true)) return;
  if (const std::size_t not_delivered = push_.FinishStop(); not_delivered > 0) {
    std::fprintf(stderr, "raidctl: %zu push notification(s) were not delivered before the stop\n",
                 not_delivered);
  }
}

}  // namespace raid::cli
