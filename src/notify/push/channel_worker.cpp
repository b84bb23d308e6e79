// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/push/channel_worker.h"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <random>

#include "notify/push/channel_request.h"
#include "notify/push/delivery_judge.h"

namespace raid {
namespace {

// A wait between attempts looks this often whether a stop has begun.
constexpr std::uint32_t kPauseSliceMs = 100;

}  // namespace

std::string NewTransactionId() {
  static const std::uint64_t process = [] {
    std::random_device source;
    return (static_cast<std::uint64_t>(source()) << 32) ^ source();
  }();
  static std::atomic<std::uint64_t> sequence{0};
  return fmt::format("raidgui.{:016x}.{}", process, sequence.fetch_add(1));
}

unsigned ChannelWorker::Waiting::StandsFor() const {
  return merge ? merge->StandsFor() : std::max(single.stands_for, 1u);
}

ChannelWorker::ChannelWorker(ChannelConfig channel, std::unique_ptr<HttpClient> client,
                             Clock& clock, PushOutcomeHandler handler)
    : channel_(std::move(channel)),
      client_(std::move(client)),
      clock_(clock),
      handler_(std::move(handler)),
      options_{ChannelHttpOptions(channel_)},
      thread_([this] { Loop(); }) {}

ChannelWorker::~ChannelWorker() {
  BeginStop();
  Cancel();
  if (thread_.joinable()) thread_.join();
}

bool ChannelWorker::Enqueue(const PushNotification& notification) {
  const std::lock_guard lock(mutex_);
  const unsigned stands_for = std::max(notification.stands_for, 1u);
  if (stopping_) {
    counters_.not_delivered_at_stop += stands_for;
    return false;
  }
  counters_.queued += stands_for;
  if (queue_.size() < kChannelQueueLimit) {
    queue_.push_back({std::nullopt, notification});
  } else {
    // Everything that waits becomes one notification; one merged earlier stays the first.
    Waiting merged;
    merged.merge.emplace();
    for (Waiting& waiting : queue_) {
      if (waiting.merge) {
        merged.merge = std::move(waiting.merge);
      } else {
        merged.merge->Add(waiting.single);
      }
    }
    merged.merge->Add(notification);
    queue_.clear();
    queue_.push_back(std::move(merged));
  }
  changed_.notify_all();
  return true;
}

ChannelCounters ChannelWorker::Counters() const {
  const std::lock_guard lock(mutex_);
  return counters_;
}

void ChannelWorker::Loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return cancelled_ || stopping_ || !queue_.empty(); });
    if (cancelled_ || queue_.empty()) break;
    Waiting next = std::move(queue_.front());
    queue_.pop_front();
    counters_.queued -= next.StandsFor();
    busy_ = true;
    lock.unlock();
    Deliver(next.merge ? next.merge->Result() : next.single);
    lock.lock();
    busy_ = false;
    changed_.notify_all();
  }
  for (const Waiting& waiting : queue_) {
    counters_.not_delivered_at_stop += waiting.StandsFor();
    counters_.queued -= waiting.StandsFor();
  }
  queue_.clear();
  ended_ = true;
  changed_.notify_all();
}

void ChannelWorker::Deliver(const PushNotification& notification) {
  // One name for every attempt: Matrix then keeps a retried message once.
  const std::string transaction_id = NewTransactionId();
  const HttpRequest request = BuildChannelRequest(channel_, notification, transaction_id);
  const std::uint64_t start = clock_.NowMs();
  for (unsigned attempts = 1;; ++attempts) {
    const HttpReply reply = client_->Perform(request, options_);
    const DeliveryOutcome outcome = JudgeReply(channel_, reply);
    std::optional<std::chrono::milliseconds> wait;
    if (outcome.kind != DeliveryKind::kDelivered) {
      wait = RetryWait(channel_, reply, attempts, std::chrono::milliseconds(clock_.NowMs() - start),
                       clock_.WallNow());
    }
    if (!wait || !Pause(*wait)) {
      Finish(notification, outcome);
      return;
    }
  }
}

bool ChannelWorker::Pause(std::chrono::milliseconds wait) {
  const std::uint64_t until = clock_.NowMs() + static_cast<std::uint64_t>(wait.count());
  for (;;) {
    {
      const std::lock_guard lock(mutex_);
      if (stopping_ || cancelled_) return false;
    }
    const std::uint64_t now = clock_.NowMs();
    if (now >= until) return true;
    clock_.SleepMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(until - now, kPauseSliceMs)));
  }
}

void ChannelWorker::Finish(const PushNotification& notification, const DeliveryOutcome& outcome) {
  {
    const std::lock_guard lock(mutex_);
    switch (outcome.kind) {
      case DeliveryKind::kDelivered:
        ++counters_.delivered;
        counters_.last_delivery = clock_.WallNow();
        break;
      case DeliveryKind::kFailed:
        ++counters_.failed;
        break;
      case DeliveryKind::kUnknown:
        ++counters_.unknown;
        break;
    }
    if (outcome.kind != DeliveryKind::kDelivered && stopping_)
      counters_.not_delivered_at_stop += std::max(notification.stands_for, 1u);
  }
  if (handler_) handler_(channel_.name, notification, outcome);
}

void ChannelWorker::BeginStop() {
  const std::lock_guard lock(mutex_);
  stopping_ = true;
  changed_.notify_all();
}

bool ChannelWorker::WaitUntilIdle(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, deadline,
                             [this] { return ended_ || (queue_.empty() && !busy_); });
}

void ChannelWorker::Cancel() {
  {
    const std::lock_guard lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
  }
  client_->Cancel();
}

bool ChannelWorker::Join(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, limit, [this] { return ended_; })) return false;
  lock.unlock();
  if (thread_.joinable()) thread_.join();
  return true;
}

std::size_t ChannelWorker::Stop(std::chrono::milliseconds grace, std::chrono::milliseconds limit) {
  BeginStop();
  WaitUntilIdle(std::chrono::steady_clock::now() + grace);
  Cancel();
  Join(limit);
  return Counters().not_delivered_at_stop;
}

}  // namespace raid
