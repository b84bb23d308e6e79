// SPDX-License-Identifier: GPL-2.0-or-later
// Notices that the host's devices changed, so that the schedule's settle delay, recount and
// discovery pass can find an enclosure plugged in later. The window and raidctl both use one of
// these.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/clock.h"
#include "device/disk_system.h"
#include "device/enclosure_list.h"

namespace raid {

class DeviceChangeWatcher {
 public:
  virtual ~DeviceChangeWatcher() = default;
  // A descriptor that becomes readable when a change may be waiting; -1 when the watcher has
  // none and must simply be asked now and then.
  virtual int WaitHandle() const { return -1; }
  // True when a change was seen since the last call; takes it.
  virtual bool TakeChanges() = 0;
};

// The kernel's device events (block disks and USB devices) through a libudev monitor on Linux;
// it needs no udev daemon. On Windows the disk and USB device notices of a message-only window,
// which has no descriptor: it is asked now and then, and asking costs nothing. Empty, with `why`
// set, where there is no such source: the caller then uses a RecountWatcher.
std::unique_ptr<DeviceChangeWatcher> CreatePlatformDeviceWatcher(std::string* why = nullptr);

// The fallback: every `interval_ms` of clock time, the volumes, the openable physical drives
// (which disk each number names) and the drives there but closed to us (no rights, in use) are
// taken again and compared with the last look. Opening a disk can block for as long as the disk
// takes to answer, so making one opens nothing: the first TakeChanges takes the first census, on
// the thread that goes on asking.
class RecountWatcher : public DeviceChangeWatcher {
 public:
  static constexpr std::uint32_t kDefaultIntervalMs = 5000;

  RecountWatcher(DiskSystem& disks, Clock& clock, std::uint32_t interval_ms = kDefaultIntervalMs);
  // The first call takes the census to compare with and reports no change.
  bool TakeChanges() override;

 private:
  struct Census {
    std::vector<std::string> volumes;
    std::vector<DiskRef> drives;
    std::vector<std::pair<unsigned, OpenFailure>> closed;
    bool operator==(const Census&) const = default;
  };
  Census Take();

  DiskSystem& disks_;
  Clock& clock_;
  std::uint32_t interval_ms_;
  std::uint64_t last_look_ms_ = 0;
  std::optional<Census> last_;
};

}  // namespace raid
