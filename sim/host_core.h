// SPDX-License-Identifier: GPL-2.0-or-later
// The simulated host's state, shared by the SimHost and the Disk handles it gives out (a handle
// may outlive the host object without dangling). One mutex guards it; the devices have their own,
// always taken after this one. Neither is held while a read hangs.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/clock.h"
#include "device/disk_system.h"
#include "recorder.h"
#include "scenario.h"
#include "sim_device.h"

namespace raid::sim {

class HostCore {
 public:
  HostCore(Scenario scenario, Clock& clock);

  struct Slot {
    std::shared_ptr<SimDevice> device;  // kept while unplugged, for plugging it back
    bool present = false;
    bool openable = true;
    bool busy = false;
    // Changes on every unplug, plug and move: handles opened before no longer reach the device.
    std::uint32_t generation = 0;
    // Like the kernel's disk sequence number: new for every attach, never reused.
    std::uint64_t attach_sequence = 0;
  };

  // All of these take the mutex themselves and apply due timeline events first.
  std::unique_ptr<Disk> OpenPhysicalDrive(const std::shared_ptr<HostCore>& self, unsigned number,
                                          OpenFailure* why);
  std::unique_ptr<Disk> OpenVolume(const std::shared_ptr<HostCore>& self, const std::string& name,
                                   OpenFailure* why);
  std::vector<std::string> LogicalVolumes();
  DriveType VolumeDriveType(const std::string& name);
  void ApplyDueEvents();
  // Replaces the timeline by `events`, their zero now (see SimHost::StartTimeline).
  void StartTimeline(std::vector<TimelineEvent> events);
  void RecordPathQuery(unsigned number);

  // Called by the handles.
  ScsiOutcome DriveDataIn(unsigned drive, std::uint32_t generation, std::uint64_t handle,
                          const ScsiDataIn& command);
  ScsiOutcome VolumeDataIn(const std::string& volume, std::uint64_t handle,
                           const ScsiDataIn& command);
  // A read of `blocks` blocks at `lba` from whatever is attached at `drive`, as a block device
  // driver issues it: no CDB to check, any length. Otherwise served as DriveDataIn serves a
  // READ(10) (holds, latency, faults, the controller, recording), recorded under handle 0.
  SimDevice::ReadOutcome BlockRead(unsigned drive, std::uint32_t lba, std::uint32_t blocks,
                                   std::span<std::uint8_t> out);
  std::optional<DiskExtent> VolumeExtent(const std::string& volume, std::uint64_t handle);
  std::optional<DiskExtent> DriveExtent(unsigned drive, std::uint64_t handle);
  void Close(const Target& target, std::uint64_t handle);

  // Direct changes (tests, the timeline).
  void Plug(unsigned number, const DriveSpec& config);
  bool PlugBack(unsigned number);
  void Unplug(unsigned number);
  bool Move(unsigned from, unsigned to);
  void SetOpenable(unsigned number, bool openable);
  void AddVolume(VolumeSpec volume);
  bool RemoveVolume(const std::string& name);
  bool IsPresent(unsigned number);
  std::shared_ptr<SimDevice> Device(unsigned number);

  Recorder& recorder() { return recorder_; }
  Clock& clock() { return clock_; }
  std::uint64_t start_ms() const { return start_ms_; }

 private:
  void ApplyDueEventsLocked();
  void ApplyLocked(const TimelineEvent& event);
  void PlugLocked(unsigned number, const DriveSpec& config);
  void UnplugLocked(unsigned number);
  bool MoveLocked(unsigned from, unsigned to);
  bool PlugBackLocked(unsigned number);
  const VolumeSpec* FindVolumeLocked(const std::string& name) const;
  bool VolumeVisibleLocked(const VolumeSpec& volume) const;
  // Checks the CDB; records a violation and returns false for anything but one-block READ(10)
  // and INQUIRY with a buffer that fits.
  struct DecodedCdb {
    CallKind kind = CallKind::kOther;
    std::uint32_t lba = 0;
    std::uint32_t blocks = 0;
    std::size_t inquiry_length = 0;
    bool usable = false;
  };
  DecodedCdb CheckCdbLocked(const Target& target, std::uint64_t handle, const ScsiDataIn& command);
  // Serves and records one read from the device at `drive` (only from that attach when
  // `generation` is given). Sleeps off holds and latency with `lock` released; a time-out of 0
  // waits out any hold.
  SimDevice::ReadOutcome ReadLocked(std::unique_lock<std::mutex>& lock, unsigned drive,
                                    std::optional<std::uint32_t> generation, std::uint64_t handle,
                                    std::uint32_t lba, std::uint32_t blocks,
                                    std::span<std::uint8_t> out, std::uint32_t timeout_seconds);
  void SortTimelineLocked();

  std::mutex mutex_;
  Clock& clock_;
  Recorder recorder_;
  std::atomic<std::uint64_t> start_ms_;  // StartTimeline moves it
  std::array<Slot, kMaxDrives> slots_;
  std::vector<VolumeSpec> volumes_;
  std::vector<TimelineEvent> timeline_;
  std::size_t next_event_ = 0;
  std::uint64_t last_attach_sequence_ = 0;
};

}  // namespace raid::sim
