// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/monitor_push.h"

#include <cstdio>
#include <filesystem>

#include "cli/notify_command.h"
#include "notify/push/channel_config.h"
#include "notify/push/delivery_judge.h"
#include "notify/push/notification_text.h"
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
    : host_(std::move(host)),
      notifier_(std::make_unique<PushNotifier>(
          std::move(channels), std::move(factory), clock_,
          [](const std::string& channel, const PushNotification&, const DeliveryOutcome& outcome) {
            std::fprintf(stderr, "raidctl: push %s\n", OutcomeText(channel, outcome).c_str());
          })) {}

MonitorPush::~MonitorPush() {
  BeginStop();
  FinishStop();
}

void MonitorPush::Alert(const AlertText& alert) {
  notifier_->Notify(AlertNotification(alert, host_, clock_.WallNow()));
}

void MonitorPush::Answer(unsigned enclosure, bool answers) {
  const auto now = clock_.WallNow();
  if (!answers) {
    silent_since_.emplace(enclosure, now);
    notifier_->Notify(AnswerNotification(enclosure, false, host_, now, now));
    return;
  }
  const auto silent = silent_since_.find(enclosure);
  if (silent == silent_since_.end()) return;  // nothing was said that this would resolve
  notifier_->Notify(AnswerNotification(enclosure, true, host_, silent->second, now));
  silent_since_.erase(silent);
}

void MonitorPush::BeginStop() {
  if (stop_begun_) return;
  stop_begun_ = true;
  stopping_ = std::thread([this] { not_delivered_ = notifier_->Stop(); });
}

void MonitorPush::FinishStop() {
  if (!stopping_.joinable()) return;
  stopping_.join();
  if (not_delivered_ > 0) {
    std::fprintf(stderr, "raidctl: %zu push notification(s) were not delivered before the stop\n",
                 not_delivered_);
  }
}

}  // namespace raid::cli
