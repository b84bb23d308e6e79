// SPDX-License-Identifier: GPL-2.0-or-later
// Two controller exchanges must never interleave: the controller decodes one knock sequence at a
// time, and the program keeps one packet and one response buffer. Every exchange (and every flash
// range, which keeps its disk open across many exchanges) holds the gate. Another thread waits
// for it; the holding thread itself, re-entered through message pumping, is refused instead of
// deadlocking.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

namespace raid {

class ExchangeGate {
 public:
  class Hold {
   public:
    explicit Hold(ExchangeGate* gate) : gate_(gate) {}
    Hold(Hold&& other) noexcept : gate_(other.gate_) { other.gate_ = nullptr; }
    Hold& operator=(Hold&&) = delete;
    Hold(const Hold&) = delete;
    ~Hold() {
      if (gate_ != nullptr) gate_->Leave();
    }

   private:
    ExchangeGate* gate_;
  };

  // Empty when this thread already holds the gate.
  std::optional<Hold> Enter() {
    if (owner_.load() == std::this_thread::get_id()) return std::nullopt;
    mutex_.lock();
    owner_.store(std::this_thread::get_id());
    return std::optional<Hold>(std::in_place, this);
  }

  bool HeldByThisThread() const { return owner_.load() == std::this_thread::get_id(); }

 private:
  void Leave() {
    owner_.store(std::thread::id{});
    mutex_.unlock();
  }

  std::mutex mutex_;
  std::atomic<std::thread::id> owner_{};
};

}  // namespace raid
