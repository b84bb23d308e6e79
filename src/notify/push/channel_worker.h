// SPDX-License-Identifier: GPL-2.0-or-later
// One push channel's sender: a thread of its own with a bounded queue, so that whoever raises an
// alert never waits for a server, and a slow or dead channel holds up no other. Each notification
// is tried again as the delivery rules allow; its final outcome is counted and reported.
//
// Time: the waits between attempts and the times counted go through the Clock, so that tests run
// minutes of retries in no time; a stop is real time, for a program that must end in seconds.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/clock.h"
#include "notify/push/http_client.h"
#include "notify/push/notification_merge.h"
#include "notify/push/push_types.h"

namespace raid {

// A full queue folds what waits into one notification (see NotificationMerge).
inline constexpr std::size_t kChannelQueueLimit = 100;

// Hears each notification's final outcome, on the channel's thread.
using PushOutcomeHandler = std::function<void(
    const std::string& channel, const PushNotification& notification, const DeliveryOutcome&)>;

struct ChannelCounters {
  std::uint64_t delivered = 0;
  std::uint64_t failed = 0;
  std::uint64_t unknown = 0;
  std::size_t queued = 0;  // alerts waiting, a merged notification counting for all it stands for
  std::size_t not_delivered_at_stop = 0;  // alerts dropped or given up because of a stop
  std::optional<std::chrono::system_clock::time_point> last_delivery;  // wall time
};

// A name for one notification that no other notification shares, also across restarts.
std::string NewTransactionId();

class ChannelWorker {
 public:
  ChannelWorker(ChannelConfig channel, std::unique_ptr<HttpClient> client, Clock& clock,
                PushOutcomeHandler handler);
  // Cancels what is under way and waits for the thread.
  ~ChannelWorker();
  ChannelWorker(const ChannelWorker&) = delete;
  ChannelWorker& operator=(const ChannelWorker&) = delete;

  // Returns at once. False, and counted as not delivered, once a stop has begun.
  bool Enqueue(const PushNotification& notification);

  const ChannelConfig& channel() const { return channel_; }
  ChannelCounters Counters() const;

  // A stop in steps, so that many channels stop side by side:
  // no new notification and no further retry; what is queued still gets one attempt each.
  void BeginStop();
  // True once nothing is queued or under way, or the thread has ended; waits until `deadline`.
  bool WaitUntilIdle(std::chrono::steady_clock::time_point deadline);
  // The attempt under way gives up within about a second; what is still queued is dropped.
  void Cancel();
  // False when the thread has not ended within `limit` (a name lookup that will not be cut
  // short); the destructor then waits for it.
  bool Join(std::chrono::milliseconds limit);

  // The four steps for this channel alone; the alerts that were not delivered because of it.
  std::size_t Stop(std::chrono::milliseconds grace, std::chrono::milliseconds limit);

 private:
  struct Waiting {
    std::optional<NotificationMerge> merge;
    PushNotification single;
    unsigned StandsFor() const;
  };

  void Loop();
  void Deliver(const PushNotification& notification);
  // False when a stop cut the wait short.
  bool Pause(std::chrono::milliseconds wait);
  void Finish(const PushNotification& notification, const DeliveryOutcome& outcome);

  const ChannelConfig channel_;
  const std::unique_ptr<HttpClient> client_;
  Clock& clock_;
  const PushOutcomeHandler handler_;
  const HttpOptions options_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Waiting> queue_;
  ChannelCounters counters_;
  bool busy_ = false;
  bool stopping_ = false;
  bool cancelled_ = false;
  bool ended_ = false;
  std::thread thread_;
};

}  // namespace raid
