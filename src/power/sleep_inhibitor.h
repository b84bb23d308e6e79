// SPDX-License-Identifier: GPL-2.0-or-later
// Keeps the machine up while the controller's flash is being rewritten: a sleep or a shutdown in
// the middle would leave the enclosure without firmware. On Linux a logind inhibitor lock in
// "block" mode for shutdown and sleep; on Windows a power request that keeps the system awake.
#pragma once

#include <memory>
#include <string>

namespace raid {

// Held while it lives; the machine may sleep again once it is destroyed.
class SleepInhibitor {
 public:
  virtual ~SleepInhibitor() = default;
};

// Takes the hold, saying `why` to whoever asks the system what is holding it. Empty, with
// `why_not` set, when the system offers no way (no logind, no D-Bus) or refused.
std::unique_ptr<SleepInhibitor> InhibitSleep(const std::string& why, std::string& why_not);

}  // namespace raid
