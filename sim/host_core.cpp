// SPDX-License-Identifier: GPL-2.0-or-later
#include "host_core.h"

#include <algorithm>
#include <cstdio>
#include <type_traits>
#include <utility>

#include "sim_enclosure.h"
#include "wire_bytes.h"

namespace raid::sim {
namespace {

constexpr std::uint8_t kRead10 = 0x28;
constexpr std::uint8_t kInquiry = 0x12;

std::string Hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFU);
  return text;
}

std::string CdbText(const ScsiDataIn& command) {
  std::string text;
  for (std::uint8_t byte : command.cdb) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", byte);
    text += (text.empty() ? "" : " ") + std::string(hex);
  }
  return text;
}

// What a host answers to a command that arrives at a bridge just reset: power on, reset, or
// bus device reset occurred.
ScsiOutcome UnitAttention() {
  ScsiOutcome outcome;
  outcome.transported = true;
  outcome.status = kScsiStatusCheckCondition;
  outcome.sense = SenseCode{0x06, 0x29, 0x00};
  return outcome;
}

class DriveHandle : public Disk {
 public:
  DriveHandle(std::shared_ptr<HostCore> core, unsigned drive, std::uint32_t generation,
              std::uint64_t id, DiskIdentity identity)
      : core_(std::move(core)),
        drive_(drive),
        generation_(generation),
        id_(id),
        identity_(std::move(identity)) {}
  ~DriveHandle() override { core_->Close(Target::Drive(drive_), id_); }

  ScsiOutcome ExecuteDataIn(const ScsiDataIn& command) override {
    return core_->DriveDataIn(drive_, generation_, id_, command);
  }
  std::optional<DiskExtent> VolumeDiskExtent() override { return core_->DriveExtent(drive_, id_); }
  DiskIdentity Identity() override { return identity_; }

 private:
  std::shared_ptr<HostCore> core_;
  unsigned drive_;
  std::uint32_t generation_;
  std::uint64_t id_;
  DiskIdentity identity_;
};

class VolumeHandle : public Disk {
 public:
  VolumeHandle(std::shared_ptr<HostCore> core, std::string volume, std::uint64_t id)
      : core_(std::move(core)), volume_(std::move(volume)), id_(id) {}
  ~VolumeHandle() override { core_->Close(Target::Volume(volume_), id_); }

  ScsiOutcome ExecuteDataIn(const ScsiDataIn& command) override {
    return core_->VolumeDataIn(volume_, id_, command);
  }
  std::optional<DiskExtent> VolumeDiskExtent() override {
    return core_->VolumeExtent(volume_, id_);
  }
  // A volume is known by its name here; nothing addresses a volume after discovery.
  DiskIdentity Identity() override { return "sim volume " + volume_; }

 private:
  std::shared_ptr<HostCore> core_;
  std::string volume_;
  std::uint64_t id_;
};

std::shared_ptr<SimDevice> MakeDevice(unsigned number, const DriveSpec& config, Clock& clock) {
  return std::visit(
      [&](const auto& device) -> std::shared_ptr<SimDevice> {
        if constexpr (std::is_same_v<std::decay_t<decltype(device)>, EnclosureSpec>) {
          return std::make_shared<SimEnclosure>(number, device, clock);
        } else {
          return std::make_shared<SimPlainDisk>(number, device);
        }
      },
      config.device);
}

}  // namespace

HostCore::HostCore(Scenario scenario, Clock& clock)
    : clock_(clock),
      start_ms_(clock.NowMs()),
      volumes_(std::move(scenario.volumes)),
      timeline_(std::move(scenario.timeline)) {
  for (const auto& [number, config] : scenario.drives) {
    if (number < kMaxDrives) PlugLocked(number, config);
  }
  SortTimelineLocked();
  ApplyDueEventsLocked();  // events at time 0 belong to the start state
}

void HostCore::SortTimelineLocked() {
  std::stable_sort(
      timeline_.begin(), timeline_.end(),
      [](const TimelineEvent& a, const TimelineEvent& b) { return a.at_ms < b.at_ms; });
}

// --- opening ---

std::unique_ptr<Disk> HostCore::OpenPhysicalDrive(const std::shared_ptr<HostCore>& self,
                                                  unsigned number, OpenFailure* why) {
  std::lock_guard lock(mutex_);
  ApplyDueEventsLocked();
  const std::uint64_t now = clock_.NowMs();
  OpenFailure failure = OpenFailure::kNone;
  if (number >= kMaxDrives || !slots_[number].device || !slots_[number].present) {
    failure = OpenFailure::kNotFound;
  } else if (!slots_[number].openable) {
    failure = OpenFailure::kAccessDenied;
  } else if (slots_[number].busy) {
    failure = OpenFailure::kInUse;
  }
  if (why) *why = failure;
  if (failure != OpenFailure::kNone) {
    recorder_.RecordOpenFailed(now, Target::Drive(number));
    return nullptr;
  }
  const std::uint64_t id = recorder_.NewHandleId();
  recorder_.RecordOpen(now, Target::Drive(number), id);
  return std::make_unique<DriveHandle>(
      self, number, slots_[number].generation, id,
      "sim attach " + std::to_string(slots_[number].attach_sequence));
}

std::unique_ptr<Disk> HostCore::OpenVolume(const std::shared_ptr<HostCore>& self,
                                           const std::string& name, OpenFailure* why) {
  std::lock_guard lock(mutex_);
  ApplyDueEventsLocked();
  const std::uint64_t now = clock_.NowMs();
  const VolumeSpec* volume = FindVolumeLocked(name);
  OpenFailure failure = OpenFailure::kNone;
  if (!volume || !VolumeVisibleLocked(*volume)) {
    failure = OpenFailure::kNotFound;
  } else if (!volume->openable) {
    failure = OpenFailure::kAccessDenied;
  }
  if (why) *why = failure;
  if (failure != OpenFailure::kNone) {
    recorder_.RecordOpenFailed(now, Target::Volume(name));
    return nullptr;
  }
  const std::uint64_t id = recorder_.NewHandleId();
  recorder_.RecordOpen(now, Target::Volume(name), id);
  return std::make_unique<VolumeHandle>(self, name, id);
}

void HostCore::Close(const Target& target, std::uint64_t handle) {
  std::lock_guard lock(mutex_);
  recorder_.RecordClose(clock_.NowMs(), target, handle);
}

// --- volumes ---

std::vector<std::string> HostCore::LogicalVolumes() {
  std::lock_guard lock(mutex_);
  ApplyDueEventsLocked();
  recorder_.RecordQuery(clock_.NowMs(), Target::Volume(""));
  std::vector<std::string> names;
  for (const VolumeSpec& volume : volumes_) {
    if (VolumeVisibleLocked(volume)) names.push_back(volume.name);
  }
  return names;
}

DriveType HostCore::VolumeDriveType(const std::string& name) {
  std::lock_guard lock(mutex_);
  ApplyDueEventsLocked();
  recorder_.RecordQuery(clock_.NowMs(), Target::Volume(name));
  const VolumeSpec* volume = FindVolumeLocked(name);
  return volume && VolumeVisibleLocked(*volume) ? volume->drive_type : DriveType::kNoRootDir;
}

const VolumeSpec* HostCore::FindVolumeLocked(const std::string& name) const {
  for (const VolumeSpec& volume : volumes_) {
    if (volume.name == name) return &volume;
  }
  return nullptr;
}

// A volume goes away with the disk that holds it.
bool HostCore::VolumeVisibleLocked(const VolumeSpec& volume) const {
  if (!volume.extent || volume.extent->disk_number >= kMaxDrives) return true;
  const Slot& slot = slots_[volume.extent->disk_number];
  return !slot.device || slot.present;
}

std::optional<DiskExtent> HostCore::VolumeExtent(const std::string& name, std::uint64_t handle) {
  std::lock_guard lock(mutex_);
  ApplyDueEventsLocked();
  const VolumeSpec* volume = FindVolumeLocked(name);
  const bool ok = volume && VolumeVisibleLocked(*volume) && volume->extent;
  recorder_.RecordIo(clock_.NowMs(), Target::Volume(name), handle, CallKind::kExtents, 0, 0, ok);
  return ok ? volume->extent : std::nullopt;
}

std::optional<DiskExtent> HostCore::DriveExtent(unsigned drive, std::uint64_t handle) {
  std::lock_guard lock(mutex_);
  ApplyDueEventsLocked();
  // A physical drive is not a volume: the question has no answer.
  recorder_.RecordIo(clock_.NowMs(), Target::Drive(drive), handle, CallKind::kExtents, 0, 0, false);
  return std::nullopt;
}

// --- data-in commands ---

HostCore::DecodedCdb HostCore::CheckCdbLocked(const Target& target, std::uint64_t handle,
                                              const ScsiDataIn& command) {
  const std::uint64_t now = clock_.NowMs();
  const auto& cdb = command.cdb;
  DecodedCdb decoded;
  if (cdb[0] == kRead10) {
    decoded.kind = CallKind::kRead;
    decoded.lba = static_cast<std::uint32_t>(wire::GetBigEndian(cdb, 2, 4));
    decoded.blocks = static_cast<std::uint32_t>(wire::GetBigEndian(cdb, 7, 2));
    decoded.usable = true;
    if (command.cdb_length != 10) {
      recorder_.RecordViolation(
          now, target, handle,
          "READ(10) sent with a CDB length of " + std::to_string(command.cdb_length));
    }
    // Flags, group number, the transfer length's high byte and control: none is ours to use.
    for (const std::size_t byte : {1U, 6U, 7U, 9U}) {
      if (cdb[byte] != 0) {
        recorder_.RecordViolation(now, target, handle,
                                  "READ(10) CDB byte " + std::to_string(byte) + " is " +
                                      Hex2(cdb[byte]) + ", not zero (" + CdbText(command) + ")");
      }
    }
    if (decoded.blocks != 1) {
      recorder_.RecordViolation(now, target, handle,
                                "READ(10) of " + std::to_string(decoded.blocks) + " blocks at " +
                                    std::to_string(decoded.lba) +
                                    "; every exchange reads one block");
    }
    if (command.data.size() < std::size_t{decoded.blocks} * kBlockBytes) {
      recorder_.RecordViolation(now, target, handle,
                                "READ(10) of " + std::to_string(decoded.blocks) +
                                    " blocks into a buffer of " +
                                    std::to_string(command.data.size()) + " bytes");
      decoded.usable = false;
    }
  } else if (cdb[0] == kInquiry) {
    decoded.kind = CallKind::kInquiry;
    decoded.inquiry_length = static_cast<std::size_t>(wire::GetBigEndian(cdb, 3, 2));
    decoded.usable = true;
    if (command.cdb_length != 10) {
      recorder_.RecordViolation(now, target, handle,
                                "INQUIRY sent with a CDB length of " +
                                    std::to_string(command.cdb_length) + "; the bridge takes 10");
    }
    static constexpr std::array<std::uint8_t, 10> kStandardInquiry = {0x12, 0, 0, 0, 0x24,
                                                                      0,    0, 0, 0, 0};
    if ((cdb[1] & 0x01) != 0) {
      recorder_.RecordViolation(now, target, handle, "INQUIRY asked for vital product data");
      decoded.usable = false;
    } else if (cdb != kStandardInquiry) {
      recorder_.RecordViolation(now, target, handle,
                                "INQUIRY CDB " + CdbText(command) +
                                    " is not the standard 36-byte one (12 00 00 00 24 00 ...)");
    }
    if (command.data.size() < decoded.inquiry_length) {
      recorder_.RecordViolation(
          now, target, handle,
          "INQUIRY allocation length " + std::to_string(decoded.inquiry_length) +
              " exceeds the buffer of " + std::to_string(command.data.size()) + " bytes");
      decoded.usable = false;
    }
  } else {
    recorder_.RecordViolation(now, target, handle,
                              "CDB opcode " + Hex2(cdb[0]) + " is neither READ(10) nor INQUIRY");
  }
  return decoded;
}

ScsiOutcome HostCore::DriveDataIn(unsigned drive, std::uint32_t generation, std::uint64_t handle,
                                  const ScsiDataIn& command) {
  std::unique_lock lock(mutex_);
  ApplyDueEventsLocked();
  const Target target = Target::Drive(drive);
  const DecodedCdb cdb = CheckCdbLocked(target, handle, command);
  if (cdb.usable && cdb.kind == CallKind::kRead) {
    const SimDevice::ReadOutcome read =
        ReadLocked(lock, drive, generation, handle, cdb.lba, cdb.blocks, command.data,
                   command.timeout_seconds);
    return read.unit_attention ? UnitAttention() : ScsiOutcome::Completed(read.ok);
  }
  const Slot& slot = slots_[drive];
  bool ok = false;
  if (cdb.usable && cdb.kind == CallKind::kInquiry && slot.present &&
      slot.generation == generation && slot.device) {
    ok = slot.device->Inquiry(
        command.data.first(std::min<std::size_t>(cdb.inquiry_length, command.data.size())));
  }
  recorder_.RecordIo(clock_.NowMs(), target, handle, cdb.kind, cdb.lba, cdb.blocks, ok);
  return ScsiOutcome::Completed(ok);
}

SimDevice::ReadOutcome HostCore::BlockRead(unsigned drive, std::uint32_t lba, std::uint32_t blocks,
                                           std::span<std::uint8_t> out) {
  std::unique_lock lock(mutex_);
  ApplyDueEventsLocked();
  if (drive >= kMaxDrives || out.size() < std::size_t{blocks} * kBlockBytes) return {};
  return ReadLocked(lock, drive, std::nullopt, 0, lba, blocks, out, 0);
}

SimDevice::ReadOutcome HostCore::ReadLocked(std::unique_lock<std::mutex>& lock, unsigned drive,
                                            std::optional<std::uint32_t> generation,
                                            std::uint64_t handle, std::uint32_t lba,
                                            std::uint32_t blocks, std::span<std::uint8_t> out,
                                            std::uint32_t timeout_seconds) {
  const Target target = Target::Drive(drive);
  auto reachable = [&]() -> std::shared_ptr<SimDevice> {
    const Slot& slot = slots_[drive];
    return slot.present && (!generation || slot.generation == *generation) ? slot.device : nullptr;
  };
  {
    const std::shared_ptr<SimDevice> device = reachable();
    const std::optional<std::uint32_t> hold = device ? device->TakeReadHold(lba) : std::nullopt;
    if (const std::uint32_t latency = device ? device->ReadLatency() : 0; latency != 0 && !hold) {
      lock.unlock();
      clock_.SleepUs(latency);
      lock.lock();
      ApplyDueEventsLocked();
    }
    if (hold) {
      // The operating system gives up on the command at its time-out; 0 sets none.
      const std::uint64_t limit_ms = std::uint64_t{timeout_seconds} * 1000;
      const bool times_out = limit_ms != 0 && *hold >= limit_ms;
      lock.unlock();
      clock_.SleepMs(times_out ? static_cast<std::uint32_t>(limit_ms) : *hold);
      lock.lock();
      ApplyDueEventsLocked();
      if (times_out) {
        recorder_.RecordIo(clock_.NowMs(), target, handle, CallKind::kRead, lba, blocks, false);
        return {};
      }
    }
  }
  SimDevice::ReadOutcome outcome;
  if (const std::shared_ptr<SimDevice> device = reachable()) {
    outcome = device->Read(lba, blocks, out);
    if (outcome.vanished) UnplugLocked(drive);
  }
  const std::uint64_t now = clock_.NowMs();
  recorder_.RecordIo(now, target, handle, CallKind::kRead, lba, blocks, outcome.ok);
  if (outcome.packet) recorder_.RecordPacket(now, drive, *outcome.packet);
  if (outcome.decode_error) recorder_.RecordDecodeError(now, drive, *outcome.decode_error);
  if (outcome.violation) recorder_.RecordViolation(now, target, handle, *outcome.violation);
  return outcome;
}

ScsiOutcome HostCore::VolumeDataIn(const std::string& name, std::uint64_t handle,
                                   const ScsiDataIn& command) {
  std::lock_guard lock(mutex_);
  ApplyDueEventsLocked();
  const Target target = Target::Volume(name);
  const DecodedCdb cdb = CheckCdbLocked(target, handle, command);
  const VolumeSpec* volume = FindVolumeLocked(name);
  bool ok = false;
  if (cdb.usable && volume && VolumeVisibleLocked(*volume)) {
    if (cdb.kind == CallKind::kRead) {
      // A volume's blocks are file system data; no controller listens to them.
      std::uint32_t salt = 2166136261U;  // FNV-1a: the same content on every platform
      for (char c : name)
        salt = (salt ^ static_cast<std::uint8_t>(c)) * 16777619U;
      for (std::uint32_t i = 0; i < cdb.blocks; ++i) {
        auto block = command.data.subspan(std::size_t{i} * kBlockBytes, kBlockBytes);
        for (std::size_t b = 0; b < kBlockBytes; ++b) {
          block[b] = static_cast<std::uint8_t>((cdb.lba + i) * 31 + b * 7 + salt);
        }
      }
      ok = true;
    } else {
      // Pass-through on a volume reaches the disk that holds it.
      const auto span =
          command.data.first(std::min<std::size_t>(cdb.inquiry_length, command.data.size()));
      if (volume->extent && volume->extent->disk_number < kMaxDrives &&
          slots_[volume->extent->disk_number].device) {
        ok = slots_[volume->extent->disk_number].device->Inquiry(span);
      }
    }
  }
  recorder_.RecordIo(clock_.NowMs(), target, handle, cdb.kind, cdb.lba, cdb.blocks, ok);
  return ScsiOutcome::Completed(ok);
}

// --- plugging ---

void HostCore::Plug(unsigned number, const DriveSpec& config) {
  std::lock_guard lock(mutex_);
  PlugLocked(number, config);
}

bool HostCore::PlugBack(unsigned number) {
  std::lock_guard lock(mutex_);
  return PlugBackLocked(number);
}

void HostCore::Unplug(unsigned number) {
  std::lock_guard lock(mutex_);
  UnplugLocked(number);
}

bool HostCore::Move(unsigned from, unsigned to) {
  std::lock_guard lock(mutex_);
  return MoveLocked(from, to);
}

void HostCore::SetOpenable(unsigned number, bool openable) {
  std::lock_guard lock(mutex_);
  if (number < kMaxDrives) slots_[number].openable = openable;
}

void HostCore::AddVolume(VolumeSpec volume) {
  std::lock_guard lock(mutex_);
  volumes_.push_back(std::move(volume));
}

bool HostCore::RemoveVolume(const std::string& name) {
  std::lock_guard lock(mutex_);
  const auto before = volumes_.size();
  std::erase_if(volumes_, [&](const VolumeSpec& v) { return v.name == name; });
  return volumes_.size() != before;
}

bool HostCore::IsPresent(unsigned number) {
  std::lock_guard lock(mutex_);
  ApplyDueEventsLocked();
  return number < kMaxDrives && slots_[number].device && slots_[number].present;
}

std::shared_ptr<SimDevice> HostCore::Device(unsigned number) {
  std::lock_guard lock(mutex_);
  return number < kMaxDrives ? slots_[number].device : nullptr;
}

void HostCore::PlugLocked(unsigned number, const DriveSpec& config) {
  if (number >= kMaxDrives) return;
  Slot& slot = slots_[number];
  slot.device = MakeDevice(number, config, clock_);
  slot.present = true;
  slot.openable = config.openable;
  slot.busy = config.busy;
  ++slot.generation;
  slot.attach_sequence = ++last_attach_sequence_;
}

bool HostCore::PlugBackLocked(unsigned number) {
  if (number >= kMaxDrives || !slots_[number].device) return false;
  Slot& slot = slots_[number];
  slot.device->Revive();
  slot.present = true;
  ++slot.generation;
  slot.attach_sequence = ++last_attach_sequence_;
  return true;
}

bool HostCore::MoveLocked(unsigned from, unsigned to) {
  if (from >= kMaxDrives || to >= kMaxDrives || from == to) return false;
  Slot& source = slots_[from];
  Slot& destination = slots_[to];
  if (!source.device || !source.present || (destination.device && destination.present)) {
    return false;
  }
  // Generations only grow, so that no handle opened on either number before reaches the disk
  // through it afterwards: old handles of `from` find it empty, old ones of `to` outdated.
  const std::uint32_t from_generation = source.generation;
  const std::uint32_t to_generation = destination.generation;
  destination = std::move(source);  // the same attach: device, identity, openability
  destination.generation = to_generation + 1;
  source = Slot{};
  source.generation = from_generation + 1;
  for (VolumeSpec& volume : volumes_) {
    if (volume.extent && volume.extent->disk_number == from) volume.extent->disk_number = to;
  }
  return true;
}

void HostCore::UnplugLocked(unsigned number) {
  if (number >= kMaxDrives || !slots_[number].present) return;
  slots_[number].present = false;
  ++slots_[number].generation;
}

// --- the timeline ---

void HostCore::ApplyDueEvents() {
  std::lock_guard lock(mutex_);
  ApplyDueEventsLocked();
}

void HostCore::StartTimeline(std::vector<TimelineEvent> events) {
  std::lock_guard lock(mutex_);
  timeline_ = std::move(events);
  next_event_ = 0;
  start_ms_ = clock_.NowMs();
  SortTimelineLocked();
  ApplyDueEventsLocked();
}

void HostCore::RecordPathQuery(unsigned number) {
  std::lock_guard lock(mutex_);
  ApplyDueEventsLocked();
  recorder_.RecordQuery(clock_.NowMs(), Target::Drive(number));
}

void HostCore::ApplyDueEventsLocked() {
  const std::uint64_t elapsed = clock_.NowMs() - start_ms_;
  while (next_event_ < timeline_.size() && timeline_[next_event_].at_ms <= elapsed) {
    ApplyLocked(timeline_[next_event_++]);
  }
}

void HostCore::ApplyLocked(const TimelineEvent& event) {
  if (event.drive >= kMaxDrives) return;
  Slot& slot = slots_[event.drive];
  auto* enclosure = dynamic_cast<SimEnclosure*>(slot.device.get());
  std::visit(
      [&](const auto& a) {
        using A = std::decay_t<decltype(a)>;
        if constexpr (std::is_same_v<A, action::Unplug>) {
          UnplugLocked(event.drive);
        } else if constexpr (std::is_same_v<A, action::Plug>) {
          if (a.drive) {
            PlugLocked(event.drive, *a.drive);
          } else {
            PlugBackLocked(event.drive);
          }
        } else if constexpr (std::is_same_v<A, action::Move>) {
          MoveLocked(event.drive, a.to);
        } else if constexpr (std::is_same_v<A, action::SetFaults>) {
          if (slot.device) slot.device->SetFaults(a.faults);
        } else if (enclosure == nullptr) {
          return;  // the parser only lets enclosure actions name enclosures
        } else if constexpr (std::is_same_v<A, action::PullMember>) {
          enclosure->PullDrive(a.port);
        } else if constexpr (std::is_same_v<A, action::InsertMember>) {
          enclosure->InsertDrive(a.port, a.member, a.state);
        } else if constexpr (std::is_same_v<A, action::StartRebuild>) {
          enclosure->StartRebuild(a.port, a.duration_ms, start_ms_ + event.at_ms);
        } else if constexpr (std::is_same_v<A, action::FinishRebuild>) {
          enclosure->FinishRebuild();
        } else if constexpr (std::is_same_v<A, action::SetPortState>) {
          enclosure->SetPortState(a.port, a.state);
        } else if constexpr (std::is_same_v<A, action::SetMode>) {
          enclosure->SetMode(a.raw_mode);
        } else if constexpr (std::is_same_v<A, action::SetFan>) {
          enclosure->SetFan(a.rpm);
        } else if constexpr (std::is_same_v<A, action::SetTemperature>) {
          enclosure->SetTemperature(a.celsius);
        }
      },
      event.action);
}

}  // namespace raid::sim
