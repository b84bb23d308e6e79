// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/push/alert_push.h"

#include "notify/push/delivery_judge.h"
#include "notify/push/notification_text.h"

namespace raid {

PushOutcomeHandler ShowPushOutcomes(UiSink& ui) {
  return
      [&ui](const std::string& channel, const PushNotification&, const DeliveryOutcome& outcome) {
        const std::string key = "push " + channel;
        const std::string text = OutcomeText(channel, outcome);
        if (outcome.kind != DeliveryKind::kDelivered) {
          ui.ShowPanelFailure(kPushOutcomePanel, key, text);
          return;
        }
        ui.EndPanelFailure(kPushOutcomePanel, key);
        ui.SetPanelText(kPushOutcomePanel, text);
      };
}

AlertPush::AlertPush(std::vector<ChannelConfig> channels, HttpClientFactory factory,
                     std::string host, PushOutcomeHandler handler)
    : host_(std::move(host)),
      notifier_(std::make_unique<PushNotifier>(std::move(channels), std::move(factory), clock_,
                                               std::move(handler))) {}

AlertPush::~AlertPush() {
  FinishStop();
}

void AlertPush::Alert(const AlertText& alert) {
  notifier_->Notify(AlertNotification(alert, host_, clock_.WallNow()));
}

AlertPush::SilentSince AlertPush::Silent() {
  const std::lock_guard lock(silent_mutex_);
  return silent_since_;
}

void AlertPush::AssumeSilent(SilentSince silent) {
  const std::lock_guard lock(silent_mutex_);
  silent_since_ = std::move(silent);
}

void AlertPush::Answer(unsigned enclosure, bool answers) {
  const auto now = clock_.WallNow();
  std::chrono::system_clock::time_point since = now;
  {
    const std::lock_guard lock(silent_mutex_);
    if (!answers) {
      silent_since_.emplace(enclosure, now);
    } else {
      const auto silent = silent_since_.find(enclosure);
      if (silent == silent_since_.end()) return;  // nothing was said that this would resolve
      since = silent->second;
      silent_since_.erase(silent);
    }
  }
  notifier_->Notify(AnswerNotification(enclosure, answers, host_, since, now));
}

void AlertPush::BeginStop() {
  if (stopping_.joinable() || stop_done_.load()) return;
  stopping_ = std::thread([this] {
    not_delivered_ = notifier_->Stop();
    stop_done_.store(true);
  });
}

std::size_t AlertPush::FinishStop(const std::function<void()>& meanwhile) {
  BeginStop();
  while (meanwhile && !stop_done_.load()) {
    meanwhile();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (stopping_.joinable()) stopping_.join();
  return not_delivered_;
}

}  // namespace raid
