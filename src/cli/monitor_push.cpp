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
  std::string why;
  HttpClientFactory factory = MakeHttpClientFactory(why);
  if (!factory) {
    std::fprintf(stderr, "raidctl: push channels are off: %s\n", why.c_str());
    return nullptr;
  }
  std::unique_ptr<MonitorPush> monitor_push(
      new MonitorPush(std::move(factory), QueryHostFacts(CreatePlatformHostInfo()).system_name));
  monitor_push->Load(monitor_push->push_);
  return monitor_push;
}

MonitorPush::MonitorPush(HttpClientFactory factory, std::string host)
    : factory_(std::move(factory)), host_(std::move(host)) {}

bool MonitorPush::Load(std::unique_ptr<AlertPush>& push) {
  const std::filesystem::path file = NotifyFolder() / kNotifyFileName;
  std::vector<ChannelConfig> channels;
  std::string error;
  if (!LoadNotifyChannels(file, channels, error)) {
    std::fprintf(stderr, "raidctl: push channels are off: %s\n", error.c_str());
    return false;
  }
  push.reset();
  if (channels.empty()) return true;  // no notify.toml: nothing to say
  std::string names;
  for (const ChannelConfig& channel : channels)
    names += (names.empty() ? "" : ", ") + channel.name;
  std::fprintf(stderr, "raidctl: alerts also go to %zu push channel(s): %s\n", channels.size(),
               names.c_str());
  push = std::make_unique<AlertPush>(
      std::move(channels), factory_, host_,
      [](const std::string& channel, const PushNotification&, const DeliveryOutcome& outcome) {
        std::fprintf(stderr, "raidctl: push %s\n", OutcomeText(channel, outcome).c_str());
      });
  return true;
}

void MonitorPush::Reload() {
  std::unique_ptr<AlertPush> fresh;
  if (!Load(fresh)) {
    if (push_) std::fputs("raidctl: the push channels stay as they were\n", stderr);
    return;
  }
  if (!fresh) std::fputs("raidctl: no push channels now\n", stderr);
  if (push_) {
    // What the old channels were told still holds: the new ones remind of it and resolve it.
    if (fresh) fresh->AssumeHolding(push_->Holding());
    push_->BeginStop();
    retired_.push_back(std::move(push_));
  }
  push_ = std::move(fresh);
}

void MonitorPush::Alert(const AlertText& alert) {
  if (push_) push_->Alert(alert);
}

void MonitorPush::Cleared(AlertKind kind, unsigned enclosure_index, unsigned port) {
  if (push_) push_->Cleared(kind, enclosure_index, port);
}

void MonitorPush::Answer(unsigned enclosure, bool answers) {
  if (push_) push_->Answer(enclosure, answers);
}

void MonitorPush::BeginStop() {
  if (push_) push_->BeginStop();
}

MonitorPush::~MonitorPush() {
  FinishStop();
}

void MonitorPush::FinishStop() {
  if (std::exchange(finished_, true)) return;
  BeginStop();
  std::size_t not_delivered = push_ ? push_->FinishStop() : 0;
  for (const std::unique_ptr<AlertPush>& retired : retired_)
    not_delivered += retired->FinishStop();
  if (not_delivered > 0) {
    std::fprintf(stderr, "raidctl: %zu push notification(s) were not delivered before the stop\n",
                 not_delivered);
  }
}

}  // namespace raid::cli
