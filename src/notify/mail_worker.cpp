#include "notify/mail_worker.h"

namespace raid {

MailWorker::MailWorker(AlertMailer& mailer, std::uint32_t look_ms)
    : mailer_(mailer), look_(look_ms), thread_([this] { Loop(); }) {}

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
    if (!woken_) wake_.wait_for(lock, look_, [this] { return stop_ || woken_; });
    woken_ = false;
  }
  ended_ = true;
  wake_.notify_all();
}

bool MailWorker::Stop(std::chrono::milliseconds grace, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
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
