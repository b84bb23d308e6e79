// SPDX-License-Identifier: GPL-2.0-or-later
// The upgrade's keep-awake hold from the platform's sleep inhibitor.
#pragma once

#include <memory>
#include <string>

#include "firmware/keep_awake.h"
#include "power/sleep_inhibitor.h"

namespace raid {

inline constexpr const char* kUpgradeInhibitReason = "Controller firmware upgrade in progress";

class SystemKeepAwake : public KeepAwake {
 public:
  std::unique_ptr<KeepAwakeHold> Hold(std::string& why_not) override {
    std::unique_ptr<SleepInhibitor> inhibitor = InhibitSleep(kUpgradeInhibitReason, why_not);
    if (!inhibitor) return nullptr;
    return std::make_unique<Held>(std::move(inhibitor));
  }

 private:
  class Held : public KeepAwakeHold {
   public:
    explicit Held(std::unique_ptr<SleepInhibitor> inhibitor) : inhibitor_(std::move(inhibitor)) {}

   private:
    std::unique_ptr<SleepInhibitor> inhibitor_;
  };
};

}  // namespace raid
