// SPDX-License-Identifier: GPL-2.0-or-later
// What `raidctl monitor` tells the service manager that started it: that it is ready, that it
// is still alive, and that it stops. Started any other way, it tells nobody. One implementation
// file per platform.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace raid::cli {

class ServiceNotifier {
 public:
  virtual ~ServiceNotifier() = default;
  // The first list is installed; `status` is the one line the manager shows for the service.
  virtual void Ready(const std::string& status) = 0;
  virtual void Status(const std::string& status) = 0;
  // The watchdog is petted, when the manager keeps one. May be called from any thread.
  virtual void Alive() = 0;
  // The watchdog's time-out; zero when the manager keeps none for this process.
  virtual std::chrono::microseconds WatchdogTimeout() const = 0;
  virtual void Stopping() = 0;
};

// systemd's notify socket on Linux; nothing on Windows.
std::unique_ptr<ServiceNotifier> CreatePlatformServiceNotifier();

}  // namespace raid::cli
