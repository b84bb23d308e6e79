// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/mail_worker.h"

namespace raid {
namespace {

// After a look that found work, the next comes this soon (or when woken), to see what was raised
// meanwhile; a look that finds nothing waits until woken.
constexpr std::chrono::milliseconds kLookAgain{200};

}  // namespace

MailWorker::MailWorker(AlertMailer& mailer) : mailer_(mailer), thread_([this] { Loop(); }) {}

MailWorker::~MailWorker() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    wake_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

void MailWorker::Wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  idle_ = false;
  wake_.notify_all();
}

void MailWorker::Loop() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    lock.unlock();
    const bool work = mailer_.HasWork();
    if (work) mailer_.RunMailWork();
    lock.lock();
    // Idle only once a look found nothing to do and nobody asked for more since.
    if (!work && !woken_) idle_ = true;
    wake_.notify_all();
    const auto asked = [this] { return stop_ || woken_; };
    if (work) {
      wake_.wait_for(lock, kLookAgain, asked);
    } else {
      wake_.wait(lock, asked);
    }
    woken_ = false;
  }
  ended_ = true;
  wake_.notify_all();
}

bool MailWorker::Stop(std::chrono::milliseconds grace, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  if (mailer_.HasWork()) {
    woken_ = true;
    idle_ = false;
    wake_.notify_all();
  }
  wake_.wait_for(lock, grace, [this] { return idle_ && !mailer_.HasWork(); });
  lock.unlock();
  mailer_.Cancel();
  lock.lock();
  stop_ = true;
  wake_.notify_all();
  if (!wake_.wait_for(lock, limit, [this] { return ended_; })) return false;
  lock.unlock();
  thread_.join();
  return true;
}

}  // namespace raid
