// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/platform.h"

namespace raid::cli {
namespace {

// No service manager here speaks this language; the Windows service comes later.
class NoServiceNotifier : public ServiceNotifier {
 public:
  void Ready(const std::string&) override {}
  void Status(const std::string&) override {}
  void Alive() override {}
  void Stopping() override {}
  std::chrono::microseconds WatchdogTimeout() const override { return {}; }
};

}  // namespace

std::unique_ptr<ServiceNotifier> CreatePlatformServiceNotifier() {
  return std::make_unique<NoServiceNotifier>();
}

}  // namespace raid::cli
