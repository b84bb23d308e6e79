// SPDX-License-Identifier: GPL-2.0-or-later
// A disk that only keeps the last command it was given, to check what is built from it.
#pragma once

#include <optional>

#include "device/disk_system.h"

namespace raid::testing {

class CapturingDisk : public Disk {
 public:
  ScsiOutcome ExecuteDataIn(const ScsiDataIn& command) override {
    captured = command;
    return ScsiOutcome::Completed();
  }
  std::optional<DiskExtent> VolumeDiskExtent() override { return std::nullopt; }
  DiskIdentity Identity() override { return "capturing"; }
  ScsiDataIn captured;
};

}  // namespace raid::testing
