// SPDX-License-Identifier: GPL-2.0-or-later
// The simulated host: up to 16 physical drives (absent, plain disks or RAID enclosures) and its
// volumes, behind the program's own disk interface, so that the program's real code runs
// against it unchanged. A scenario's timeline is applied as the clock passes its events, at the
// start of every call.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/clock.h"
#include "device/disk_system.h"
#include "hardware.h"
#include "recorder.h"
#include "scenario.h"
#include "sim_device.h"
#include "sim_enclosure.h"

namespace raid::sim {

class HostCore;

class SimHost : public DiskSystem {
 public:
  SimHost(Scenario scenario, Clock& clock);
  ~SimHost() override;
  SimHost(const SimHost&) = delete;
  SimHost& operator=(const SimHost&) = delete;

  std::unique_ptr<Disk> OpenPhysicalDrive(unsigned number, OpenFailure* why = nullptr) override;
  std::unique_ptr<Disk> OpenVolume(const std::string& volume, OpenFailure* why = nullptr) override;
  // Volumes in scenario order; a volume whose disk is unplugged is not listed.
  std::vector<std::string> LogicalVolumes() override;
  DriveType VolumeDriveType(const std::string& volume) override;
  std::string PhysicalDrivePath(unsigned number) override;

  Recorder& recorder();
  // The device at `number`, also while it is unplugged; nullptr when there is none of that kind.
  // Plug() replaces the object.
  SimEnclosure* enclosure(unsigned number);
  SimPlainDisk* plain_disk(unsigned number);
  SimDevice* device(unsigned number);

  // A new device at `number` (replacing whatever was there).
  void Plug(unsigned number, DriveSpec config);
  // The device that was unplugged (or vanished) from `number` comes back, state and all.
  bool PlugBack(unsigned number);
  void Unplug(unsigned number);
  // The host gives the disk at `from` the number `to`, as a host that numbers its disks by
  // their place in a list does when a lower one leaves. The disk keeps its identity, state,
  // faults and volumes; handles opened on either number before no longer reach it. False
  // (nothing changes) unless `from` is present and `to` is not; a device unplugged from `to`
  // earlier is forgotten.
  bool Move(unsigned from, unsigned to);
  bool IsPresent(unsigned number);
  void SetOpenable(unsigned number, bool openable);
  void AddVolume(VolumeSpec volume);
  bool RemoveVolume(const std::string& name);

  void ApplyDueEvents();
  // Clock time of the host's creation: the timeline's zero.
  std::uint64_t start_ms() const;
  // Replaces the timeline (whatever of it has not applied yet) by `events`, and makes now
  // their zero: a host created without a timeline starts its story when told to.
  void StartTimeline(std::vector<TimelineEvent> events);

  // A block device driver's read of the drive at `number` (whatever is attached there now):
  // `blocks` blocks from `lba` into `out`, any number of them, faults, holds and controller
  // as for a READ(10) through a handle, without the one-block rule. Not ok for an absent drive
  // or a buffer too small.
  SimDevice::ReadOutcome BlockRead(unsigned number, std::uint32_t lba, std::uint32_t blocks,
                                   std::span<std::uint8_t> out);

 private:
  std::shared_ptr<HostCore> core_;
};

}  // namespace raid::sim
