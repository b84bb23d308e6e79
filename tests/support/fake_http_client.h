// SPDX-License-Identifier: GPL-2.0-or-later
// An HttpClient without a network. It answers with scripted replies, one per exchange (the last
// one again once the script is used up; 200 without one), and records each request with the
// clock's time. A test can hold the exchanges until it releases them, or until Cancel, as a
// server that reads the request and never answers does.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "notify/push/http_client.h"

namespace raid::testing {

class FakeHttpClient : public HttpClient {
 public:
  struct Call {
    HttpRequest request;
    std::uint64_t at_ms = 0;  // the clock's NowMs, when there is a clock
  };

  explicit FakeHttpClient(Clock* clock = nullptr) : clock_(clock) {}

  static HttpReply Answer(int status, std::string body = "",
                          std::optional<std::string> retry_after = std::nullopt) {
    return {HttpReply::Stage::kAnswered, status, std::move(body), std::move(retry_after), ""};
  }
  static HttpReply NotSent(std::string error = "Could not connect to server") {
    return {HttpReply::Stage::kNotSent, 0, "", std::nullopt, std::move(error)};
  }
  static HttpReply NoAnswer(std::string error = "Operation timed out") {
    return {HttpReply::Stage::kNoAnswer, 0, "", std::nullopt, std::move(error)};
  }

  void Script(std::vector<HttpReply> replies) {
    const std::lock_guard lock(mutex_);
    script_.assign(replies.begin(), replies.end());
  }
  void Hold(bool hold = true) {
    const std::lock_guard lock(mutex_);
    hold_ = hold;
    changed_.notify_all();
  }

  HttpReply Perform(const HttpRequest& request, const HttpOptions&) override {
    std::unique_lock lock(mutex_);
    if (cancelled_) return NotSent("cancelled");
    calls_.push_back({request, clock_ != nullptr ? clock_->NowMs() : 0});
    changed_.notify_all();
    changed_.wait_for(lock, std::chrono::minutes(1), [this] { return !hold_ || cancelled_; });
    if (cancelled_) return NoAnswer("cancelled");
    if (script_.empty()) return Answer(200);
    const HttpReply reply = script_.front();
    if (script_.size() > 1) script_.pop_front();
    return reply;
  }
  void Cancel() override {
    const std::lock_guard lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
  }

  std::vector<Call> Calls() const {
    const std::lock_guard lock(mutex_);
    return calls_;
  }
  // False when 20 s pass first.
  bool WaitForCalls(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20),
                             [&] { return calls_.size() >= count; });
  }

 private:
  Clock* const clock_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<HttpReply> script_;
  std::vector<Call> calls_;
  bool hold_ = false;
  bool cancelled_ = false;
};

}  // namespace raid::testing
