// SPDX-License-Identifier: GPL-2.0-or-later
// An SmtpClient without a network, for the mailer's and the window's tests. It takes every mail
// as a server would, firing the events a real session fires, and records the accounts it was
// given and the mails the server took. A test can make a connect or a send fail with a reason,
// leave a mail unconfirmed, or have the server fall silent: the connect or the send then waits
// until Cancel, as one to a server that never answers does.
//
// The scripted fields are set between sends; FallSilentAt, the waits and Cancel are for any
// thread. Read `accounts` and `sent` once the sending thread is done or waited for.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "notify/smtp_client.h"

namespace raid::testing {

class FakeSmtpClient : public SmtpClient {
 public:
  // Where a silent server holds the call.
  enum class Silence : std::uint8_t { kNone, kAtConnect, kAtSend };

  void SetEventHandler(SmtpEventHandler handler) override { handler_ = std::move(handler); }
  bool Connected() const override { return connected_; }

  bool Connect(const SmtpAccount& account, std::string& error) override {
    {
      std::unique_lock lock(mutex_);
      accounts.push_back(account);
      if (silence_ == Silence::kAtConnect) {
        HoldUntilCancelled(lock);
        error = "Connection timed out";
        return false;
      }
    }
    if (!connect_error.empty()) {
      error = connect_error;
      return false;
    }
    connected_ = true;
    Fire(SmtpEvent::kConnected);
    return true;
  }

  bool Send(const MailMessage& mail, std::string& error) override {
    {
      std::unique_lock lock(mutex_);
      if (silence_ == Silence::kAtSend) {
        HoldUntilCancelled(lock);
        error = "cancelled";
        return false;
      }
    }
    if (!send_error.empty()) {
      error = send_error;
      return false;
    }
    Fire(SmtpEvent::kWorkBegin);
    if (never_confirms) return true;  // as a client that does not wait for the reply would
    {
      const std::lock_guard lock(mutex_);
      sent.push_back(mail);
      changed_.notify_all();
    }
    Fire(SmtpEvent::kWorkEnd);
    return true;
  }

  void Disconnect() override {
    if (!connected_) return;
    connected_ = false;
    Fire(SmtpEvent::kDisconnected);
  }

  std::string AcceptedReply() const override { return "250 OK"; }

  // Lets a held call go, failing; a silent server fails every later call at once.
  void Cancel() override {
    const std::lock_guard lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
  }

  // From the next Connect or Send on, the server says nothing there.
  void FallSilentAt(Silence where) {
    const std::lock_guard lock(mutex_);
    silence_ = where;
  }

  // False when 20 s pass first.
  bool WaitUntilSent(std::size_t mails) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kWaitLimit, [&] { return sent.size() >= mails; });
  }
  bool WaitUntilHeld() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kWaitLimit, [&] { return held_; });
  }

  std::string connect_error;    // Connect fails with it, when set
  std::string send_error;       // Send fails with it, when set
  bool never_confirms = false;  // Send returns as the message starts: no kWorkEnd follows

  std::vector<SmtpAccount> accounts;  // of every Connect
  std::vector<MailMessage> sent;      // the mails the server took

 private:
  static constexpr std::chrono::seconds kWaitLimit{20};

  // At most a minute, so that a test that never cancels still ends.
  void HoldUntilCancelled(std::unique_lock<std::mutex>& lock) {
    held_ = true;
    changed_.notify_all();
    changed_.wait_for(lock, std::chrono::seconds(60), [this] { return cancelled_; });
  }
  void Fire(SmtpEvent event) {
    if (handler_) handler_(event);
  }

  SmtpEventHandler handler_;
  std::atomic<bool> connected_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  Silence silence_ = Silence::kNone;
  bool held_ = false;
  bool cancelled_ = false;
};

}  // namespace raid::testing
