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
    : host_(std::move(host)), tracker_(SchedulesOf(channels)) {
  notifier_ = std::make_unique<PushNotifier>(std::move(channels), std::move(factory), clock_,
                                             std::move(handler));
  repeating_ = std::thread([this] { RepeatDue(); });
}

AlertPush::~AlertPush() {
  FinishStop();
}

// Under the lock, so that what one thread starts and another clears reaches the queues in order
// (handing over only queues it).
void AlertPush::Start(const PushNotification& firing) {
  {
    const std::lock_guard lock(mutex_);
    if (!tracker_.Start(firing, clock_.WallNow())) return;
    notifier_->Notify(firing);
  }
  wake_.notify_all();  // a re-post or reminder may now be due sooner
}

void AlertPush::Clear(const ConditionKey& key) {
  const std::lock_guard lock(mutex_);
  if (const std::optional<PushNotification> firing = tracker_.Clear(key))
    notifier_->Notify(ResolvedNotification(*firing, clock_.WallNow()));
}

void AlertPush::Alert(const AlertText& alert) {
  Start(AlertNotification(alert, host_, clock_.WallNow()));
}

void AlertPush::Cleared(AlertKind kind, unsigned enclosure_index, unsigned port) {
  Clear({std::string(MonitorEventName(AlertEventKind(kind))), enclosure_index + 1,
         AlertDrive(kind, port).value_or(0)});
}

void AlertPush::Answer(unsigned enclosure, bool answers) {
  if (answers) {
    Clear({std::string(MonitorEventName(MonitorEventKind::kNoResponse)), enclosure, 0});
  } else {
    const auto now = clock_.WallNow();
    Start(AnswerNotification(enclosure, false, host_, now, now));
  }
}

std::vector<PushNotification> AlertPush::Holding() {
  const std::lock_guard lock(mutex_);
  return tracker_.Holding();
}

void AlertPush::AssumeHolding(const std::vector<PushNotification>& holding) {
  {
    const std::lock_guard lock(mutex_);
    tracker_.Assume(holding, clock_.WallNow());
  }
  wake_.notify_all();
}

void AlertPush::RepeatDue() {
  // Wall time: a reminder is due a day after the wall clock said the condition began. A wait is
  // never longer than a minute, so that a changed wall clock is noticed soon.
  constexpr std::chrono::seconds kLongestWait{60};
  std::unique_lock lock(mutex_);
  while (!repeating_stopped_) {
    const auto now = clock_.WallNow();
    for (const ConditionTracker::Due& due : tracker_.TakeDue(now))
      notifier_->NotifyChannel(due.channel, due.notification);
    const std::optional<WallTime> next = tracker_.NextDue();
    const auto wait = next
                          ? std::min<std::chrono::system_clock::duration>(*next - now, kLongestWait)
                          : std::chrono::system_clock::duration(kLongestWait);
    wake_.wait_for(lock, wait);
  }
}

void AlertPush::BeginStop() {
  if (stopping_.joinable() || stop_done_.load()) return;
  {
    const std::lock_guard lock(mutex_);
    repeating_stopped_ = true;
  }
  wake_.notify_all();
  stopping_ = std::thread([this] {
    if (repeating_.joinable()) repeating_.join();
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
