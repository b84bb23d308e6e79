// SPDX-License-Identifier: GPL-2.0-or-later
// The push channels of notify.toml as one owner: a ChannelWorker each, a notification handed to
// every channel that hears its event, the test that raidctl notify-test sends, the counters the
// metrics show, and one stop for all of them that fits in a few seconds.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "notify/push/channel_worker.h"
#include "notify/push/http_client.h"
#include "notify/push/push_types.h"

namespace raid {

// At a stop, what is due may still go out within this grace; then attempts under way are
// cancelled. Together with the cancel it stays well inside the five seconds a monitor has to end.
inline constexpr std::chrono::milliseconds kPushStopGrace{2000};
inline constexpr std::chrono::milliseconds kPushStopLimit{1500};

struct ChannelOutcome {
  std::string channel;
  DeliveryOutcome outcome;
  bool operator==(const ChannelOutcome&) const = default;
};

struct ChannelStats {
  std::string name;
  ChannelType type = ChannelType::kNtfy;
  ChannelCounters counters;
};

class PushNotifier {
 public:
  // Starts a worker for each channel, each with a client `factory` makes. `handler` hears every
  // notification's final outcome on the channel's thread.
  PushNotifier(std::vector<ChannelConfig> channels, HttpClientFactory factory, Clock& clock,
               PushOutcomeHandler handler = {});
  ~PushNotifier();
  PushNotifier(const PushNotifier&) = delete;
  PushNotifier& operator=(const PushNotifier&) = delete;

  // Hands `notification` to each channel whose events name its event; returns at once.
  void Notify(const PushNotification& notification);
  // The same for the channel at `index` (in the order of Channels()) alone.
  void NotifyChannel(std::size_t index, const PushNotification& notification);

  // raidctl notify-test: `test` to the channel named `channel`, or to every channel when it is
  // empty, one attempt each without retries, on the calling thread. Not counted. False when no
  // channel has that name.
  bool SendTestNow(std::string_view channel, const PushNotification& test,
                   std::vector<ChannelOutcome>& outcomes, std::string& error);

  // Every channel at once: what is due may go out within `grace`, then attempts under way are
  // cancelled and the workers end. The alerts that were not delivered because of the stop.
  std::size_t Stop(std::chrono::milliseconds grace = kPushStopGrace,
                   std::chrono::milliseconds limit = kPushStopLimit);

  std::vector<ChannelStats> Stats() const;
  std::vector<ChannelConfig> Channels() const;

 private:
  const HttpClientFactory factory_;
  std::vector<std::unique_ptr<ChannelWorker>> workers_;
  std::mutex test_mutex_;
  HttpClient* test_client_ = nullptr;  // the test under way, for Stop to cancel
  bool stopped_ = false;
  std::size_t not_delivered_ = 0;
};

}  // namespace raid
