// SPDX-License-Identifier: GPL-2.0-or-later
// Many notifications told as one, for a channel whose queue has filled up: it says how many
// alerts it stands for, carries the whole text of every failed drive and removed enclosure, and
// names the other alerts by their subjects.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "notify/push/push_types.h"

namespace raid {

// A disk-fail or device-removed alert that has not cleared: never dropped, never shortened.
bool IsGraveNotification(const PushNotification& notification);

class NotificationMerge {
 public:
  void Add(const PushNotification& notification);
  // How many alerts it stands for so far.
  unsigned StandsFor() const { return stands_for_; }
  PushNotification Result() const;

 private:
  struct Other {
    std::string subject;
    unsigned count = 0;
  };

  unsigned stands_for_ = 0;
  std::vector<PushNotification> grave_;
  std::vector<Other> others_;  // in the order first seen
  std::optional<PushNotification> first_;
  std::optional<PushNotification> first_firing_;
  bool all_resolved_ = true;
  bool same_enclosure_ = true;
  bool same_drive_ = true;
  std::chrono::system_clock::time_point earliest_{};
};

}  // namespace raid
