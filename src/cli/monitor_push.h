// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl monitor's push channels: notify.toml read at the start, each alert (in its mail's words)
// and each enclosure that stops or starts answering handed to the channels that hear it, every
// outcome said on stderr, and a stop that runs beside the mail's, so that both fit in the seconds
// a stopping service has.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "notify/alert_mailer.h"
#include "notify/push/push_notifier.h"

namespace raid::cli {

class MonitorPush {
 public:
  // None, said on stderr, when notify.toml names no channel, cannot be used, or this build
  // cannot send.
  static std::unique_ptr<MonitorPush> Start();
  ~MonitorPush();
  MonitorPush(const MonitorPush&) = delete;
  MonitorPush& operator=(const MonitorPush&) = delete;

  // From the thread that raises alerts.
  void Alert(const AlertText& alert);
  // The enclosure DeviceN stopped answering, or answers again.
  void Answer(unsigned enclosure, bool answers);

  // The stop, on a thread of its own; FinishStop waits for it and says how many notifications
  // were not delivered.
  void BeginStop();
  void FinishStop();

  const PushNotifier& notifier() const { return *notifier_; }

 private:
  MonitorPush(std::vector<ChannelConfig> channels, HttpClientFactory factory, std::string host);

  SystemClock clock_;
  std::string host_;
  std::unique_ptr<PushNotifier> notifier_;
  // When each enclosure that does not answer stopped: its resolution says since when.
  std::map<unsigned, std::chrono::system_clock::time_point> silent_since_;
  bool stop_begun_ = false;
  std::thread stopping_;
  std::size_t not_delivered_ = 0;
};

}  // namespace raid::cli
