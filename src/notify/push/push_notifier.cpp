// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/push/push_notifier.h"

#include <fmt/format.h>

#include <algorithm>

#include "notify/push/channel_request.h"
#include "notify/push/delivery_judge.h"

namespace raid {
namespace {

constexpr char kStoppingText[] = "not sent: the program is stopping";
constexpr char kNoSuchChannelText[] = "no channel is named \"{}\" in notify.toml";

}  // namespace

PushNotifier::PushNotifier(std::vector<ChannelConfig> channels, HttpClientFactory factory,
                           Clock& clock, PushOutcomeHandler handler)
    : factory_(std::move(factory)) {
  for (ChannelConfig& channel : channels) {
    workers_.push_back(
        std::make_unique<ChannelWorker>(std::move(channel), factory_(), clock, handler));
  }
}

PushNotifier::~PushNotifier() {
  Stop(std::chrono::milliseconds(0));
}

void PushNotifier::Notify(const PushNotification& notification) {
  for (std::size_t index = 0; index < workers_.size(); ++index)
    NotifyChannel(index, notification);
}

void PushNotifier::NotifyChannel(std::size_t index, const PushNotification& notification) {
  if (index >= workers_.size()) return;
  ChannelWorker& worker = *workers_[index];
  const std::vector<std::string>& events = worker.channel().events;
  if (std::find(events.begin(), events.end(), notification.event) != events.end())
    worker.Enqueue(notification);
}

bool PushNotifier::SendTestNow(std::string_view channel, const PushNotification& test,
                               std::vector<ChannelOutcome>& outcomes, std::string& error) {
  outcomes.clear();
  std::vector<const ChannelConfig*> chosen;
  for (const auto& worker : workers_) {
    if (channel.empty() || worker->channel().name == channel) chosen.push_back(&worker->channel());
  }
  if (chosen.empty() && !channel.empty()) {
    error = fmt::format(fmt::runtime(kNoSuchChannelText), channel);
    return false;
  }
  for (const ChannelConfig* config : chosen) {
    // A client of its own: the channel's worker may be using its one.
    const std::unique_ptr<HttpClient> client = factory_();
    {
      const std::lock_guard lock(test_mutex_);
      if (stopped_) {
        outcomes.push_back({config->name, {DeliveryKind::kFailed, "", kStoppingText}});
        continue;
      }
      test_client_ = client.get();
    }
    const HttpReply reply = client->Perform(BuildChannelRequest(*config, test, NewTransactionId()),
                                            ChannelHttpOptions(*config));
    {
      const std::lock_guard lock(test_mutex_);
      test_client_ = nullptr;
    }
    outcomes.push_back({config->name, JudgeReply(*config, reply)});
  }
  return true;
}

std::size_t PushNotifier::Stop(std::chrono::milliseconds grace, std::chrono::milliseconds limit) {
  {
    const std::lock_guard lock(test_mutex_);
    if (stopped_) return not_delivered_;
    stopped_ = true;
    if (test_client_ != nullptr) test_client_->Cancel();
  }
  // Side by side: the grace and the limit are spent once for all channels, not once each.
  for (const auto& worker : workers_)
    worker->BeginStop();
  const auto deadline = std::chrono::steady_clock::now() + grace;
  for (const auto& worker : workers_)
    worker->WaitUntilIdle(deadline);
  for (const auto& worker : workers_)
    worker->Cancel();
  const auto end = std::chrono::steady_clock::now() + limit;
  for (const auto& worker : workers_) {
    worker->Join(std::max(std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now()),
                          std::chrono::milliseconds(0)));
    not_delivered_ += worker->Counters().not_delivered_at_stop;
  }
  return not_delivered_;
}

std::vector<ChannelStats> PushNotifier::Stats() const {
  std::vector<ChannelStats> stats;
  for (const auto& worker : workers_)
    stats.push_back({worker->channel().name, worker->channel().type, worker->Counters()});
  return stats;
}

std::vector<ChannelConfig> PushNotifier::Channels() const {
  std::vector<ChannelConfig> channels;
  for (const auto& worker : workers_)
    channels.push_back(worker->channel());
  return channels;
}

}  // namespace raid
