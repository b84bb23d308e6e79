// A disk that only keeps the last command it was given, to check what is built from it.
#pragma once

#include <optional>

#include "device/disk_system.h"

namespace raid::testing {

class CapturingDisk : public Disk {
 public:
  bool ExecuteDataIn(const ScsiDataIn& command) override {
    captured = command;
    return true;
  }
  std::optional<DiskExtent> VolumeDiskExtent() override { return std::nullopt; }
  ScsiDataIn captured;
};

}  // namespace raid::testing
