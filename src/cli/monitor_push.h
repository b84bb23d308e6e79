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
  // None, said on stderr, when this build cannot send; otherwise the channels of notify.toml, if
  // any (a file that cannot be used is said, and no channel hears anything).
  static std::unique_ptr<MonitorPush> Start();
  ~MonitorPush();
  MonitorPush(const MonitorPush&) = delete;
  MonitorPush& operator=(const MonitorPush&) = delete;

  // SIGHUP: notify.toml read again. New channels take over at once; the old ones get the stop's
  // grace for what they hold, in the background. A file that cannot be used keeps the channels
  // as they were.
  void Reload();

  // From the monitor's thread, as everything here.
  void Alert(const AlertText& alert);
  // What an alert of `kind` told of is well again.
  void Cleared(AlertKind kind, unsigned enclosure_index, unsigned port);
  // The enclosure DeviceN stopped answering, or answers again.
  void Answer(unsigned enclosure, bool answers);

  // The stop, on threads of their own; FinishStop waits for it and says (once) how many
  // notifications were not delivered.
  void BeginStop();
  void FinishStop();

  // The channels counted in the metrics now; null for none.
  const PushNotifier* notifier() const { return push_ ? &push_->notifier() : nullptr; }

 private:
  MonitorPush(HttpClientFactory factory, std::string host);
  // The channels of notify.toml, said on stderr; false when the file cannot be used.
  bool Load(std::unique_ptr<AlertPush>& push);

  HttpClientFactory factory_;
  std::string host_;
  std::unique_ptr<AlertPush> push_;
  std::vector<std::unique_ptr<AlertPush>> retired_;  // replaced by a reload, still stopping
  bool finished_ = false;
};

}  // namespace raid::cli
