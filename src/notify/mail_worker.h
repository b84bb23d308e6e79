// SPDX-License-Identifier: GPL-2.0-or-later
// Sends an AlertMailer's mails on a thread of its own, so that whoever raises the alerts (raidctl's
// monitoring loop) never waits for a mail server: polling, the log and everything else go on while
// a server is silent.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "notify/alert_mailer.h"

namespace raid {

// At a stop, what is due may still go out within this grace; then the mail under way is cancelled.
inline constexpr std::chrono::milliseconds kMailStopGrace{2000};

class MailWorker {
 public:
  // Looks for work at the start, whenever woken and shortly after each look that found some.
  // Whoever raises an alert wakes it: an idle worker sleeps instead of looking several times a
  // second.
  explicit MailWorker(AlertMailer& mailer);
  ~MailWorker();
  MailWorker(const MailWorker&) = delete;
  MailWorker& operator=(const MailWorker&) = delete;

  // Work has been requested: look now.
  void Wake();

  // Ends the worker: what is due (woken for or not) may still go out within `grace`; then the
  // mail under way is cancelled and the worker ends. False when it has not ended within `limit`
  // after the cancel (a name lookup that will not be cut short); it is then left running and joined
  // by the destructor.
  bool Stop(std::chrono::milliseconds grace, std::chrono::milliseconds limit);

 private:
  void Loop();

  AlertMailer& mailer_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool woken_ = false;
  bool stop_ = false;
  bool idle_ = true;  // no work seen at the last look
  bool ended_ = false;
  std::thread thread_;
};

}  // namespace raid
