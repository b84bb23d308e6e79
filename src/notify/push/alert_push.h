// SPDX-License-Identifier: GPL-2.0-or-later
// The push channels beside the alert mail, as the window and raidctl monitor both use them: each
// alert (in its mail's words) and each enclosure that stops or starts answering handed to the
// channels that hear it, and a stop on a thread of its own, so that it runs beside the mail's and
// both fit in the few seconds a closing program has.
#pragma once

#include <atomic>
#include <chrono>
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

  // From the thread that raises alerts.
  void Alert(const AlertText& alert);
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

  // The enclosures said to be silent and since when, for channels read again to resolve later.
  using SilentSince = std::map<unsigned, std::chrono::system_clock::time_point>;
  SilentSince Silent();
  void AssumeSilent(SilentSince silent);

 private:
  SystemClock clock_;
  const std::string host_;
  std::unique_ptr<PushNotifier> notifier_;
  std::mutex silent_mutex_;  // discovery and the polls tell from different threads
  // When each enclosure that does not answer stopped: its resolution says since when.
  std::map<unsigned, std::chrono::system_clock::time_point> silent_since_;
  std::thread stopping_;
  std::atomic<bool> stop_done_{false};
  std::size_t not_delivered_ = 0;
};

}  // namespace raid
