// SPDX-License-Identifier: GPL-2.0-or-later
// The push channels beside the alert mail, as the window and raidctl monitor both use them: each
// alert (in its mail's words) and each enclosure that stops or starts answering handed to the
// channels that hear it, told again while it holds (Alertmanager's re-posts, reminders) and told
// resolved when it clears, and a stop on a thread of its own, so that it runs beside the mail's
// and both fit in the few seconds a closing program has.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "common/ui_sink.h"
#include "notify/alert_mailer.h"
#include "notify/push/condition_tracker.h"
#include "notify/push/push_notifier.h"
#include "status/status_monitor.h"

namespace raid {

// The status-bar panel the window shows push outcomes in: the widest, where lasting failures
// stand.
inline constexpr int kPushOutcomePanel = 4;

// Each outcome on `ui` as a mail's is shown: a failure or an unknown outcome holds the panel under
// the channel's own key, until that channel next delivers; a delivery is said as a mail's success
// is. `ui` must take calls from the channels' threads.
PushOutcomeHandler ShowPushOutcomes(UiSink& ui);

class AlertPush final : public AnswerListener {
 public:
  // `host` names this machine in every notification; `handler` hears each final outcome on the
  // channel's thread. Retries wait on the real clock, whatever clock the story runs on.
  AlertPush(std::vector<ChannelConfig> channels, HttpClientFactory factory, std::string host,
            PushOutcomeHandler handler);
  ~AlertPush() override;
  AlertPush(const AlertPush&) = delete;
  AlertPush& operator=(const AlertPush&) = delete;

  // From the thread that raises alerts. A condition that already holds is not told twice.
  void Alert(const AlertText& alert);
  // What an alert of `kind` told of is well again (the detector says so on every poll, whether
  // or not anything held); from the thread that raises alerts.
  void Cleared(AlertKind kind, unsigned enclosure_index, unsigned port);
  // The enclosure DeviceN stopped answering, or answers again; from any thread.
  void Answer(unsigned enclosure, bool answers);
  void StoppedAnswering(unsigned position) override { Answer(position + 1, false); }
  void AnswersAgain(unsigned position) override { Answer(position + 1, true); }

  // Starts the stop on a thread of its own and returns at once; later calls do nothing.
  void BeginStop();
  // Waits for the stop (beginning it if need be), calling `meanwhile` every few milliseconds;
  // the alerts not delivered because of it.
  std::size_t FinishStop(const std::function<void()>& meanwhile = {});

  const PushNotifier& notifier() const { return *notifier_; }

  // The conditions that hold, for channels read again to remind of and resolve later.
  std::vector<PushNotification> Holding();
  void AssumeHolding(const std::vector<PushNotification>& holding);

 private:
  void Start(const PushNotification& firing);
  void Clear(const ConditionKey& key);
  // The re-posts and reminders, on a thread of their own until the stop.
  void RepeatDue();

  SystemClock clock_;
  const std::string host_;
  std::unique_ptr<PushNotifier> notifier_;
  std::mutex mutex_;  // discovery, the polls and the repeating thread all reach the tracker
  std::condition_variable wake_;
  ConditionTracker tracker_;
  bool repeating_stopped_ = false;
  std::thread repeating_;
  std::thread stopping_;
  std::atomic<bool> stop_done_{false};
  std::size_t not_delivered_ = 0;
};

}  // namespace raid
