// SPDX-License-Identifier: GPL-2.0-or-later
#include <systemd/sd-daemon.h>

#include <cstdint>

#include "cli/platform.h"

namespace raid::cli {
namespace {

// sd_notify does nothing without NOTIFY_SOCKET, so a monitor started from a terminal sends
// nothing. The environment is kept: a restart by hand inside the service sees it too.
class SystemdNotifier : public ServiceNotifier {
 public:
  SystemdNotifier() {
    std::uint64_t usec = 0;
    // Also false when WATCHDOG_PID names another process: the watchdog is not ours then.
    watchdog_ = sd_watchdog_enabled(0, &usec) > 0;
    if (watchdog_) timeout_ = std::chrono::microseconds(usec);
  }
  void Ready(const std::string& status) override {
    sd_notifyf(0, "READY=1\nSTATUS=%s", status.c_str());
  }
  void Status(const std::string& status) override { sd_notifyf(0, "STATUS=%s", status.c_str()); }
  void Alive() override {
    if (watchdog_) sd_notify(0, "WATCHDOG=1");
  }
  void Stopping() override { sd_notify(0, "STOPPING=1"); }
  std::chrono::microseconds WatchdogTimeout() const override { return timeout_; }

 private:
  bool watchdog_ = false;
  std::chrono::microseconds timeout_{0};
};

}  // namespace

std::unique_ptr<ServiceNotifier> CreatePlatformServiceNotifier() {
  return std::make_unique<SystemdNotifier>();
}

}  // namespace raid::cli
