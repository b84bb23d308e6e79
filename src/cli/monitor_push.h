// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl monitor's push channels: notify.toml read at the start, each alert (in its mail's words)
// and each enclosure that stops or starts answering handed to the channels that hear it, every
// outcome said on stderr, and a stop that runs beside the mail's, so that both fit in the seconds
// a stopping service has.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "notify/alert_mailer.h"
#include "notify/push/alert_push.h"

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
  void Alert(const AlertText& alert) { push_.Alert(alert); }
  // The enclosure DeviceN stopped answering, or answers again.
  void Answer(unsigned enclosure, bool answers) { push_.Answer(enclosure, answers); }

  // The stop, on a thread of its own; FinishStop waits for it and says (once) how many
  // notifications were not delivered.
  void BeginStop() { push_.BeginStop(); }
  void FinishStop();

  const PushNotifier& notifier() const { return push_.notifier(); }

 private:
  MonitorPush(std::vector<ChannelConfig> channels, HttpClientFactory factory, std::string host);

  AlertPush push_;
  bool finished_ = false;
};

}  // namespace raid::cli
