// SPDX-License-Identifier: GPL-2.0-or-later
#include "sim_enclosure.h"

#include <algorithm>
#include <utility>

namespace raid::sim {
namespace {

std::uint64_t DefaultArrayCapacity(const EnclosureSpec& config) {
  std::vector<std::uint64_t> sizes;
  for (const auto& member : config.members) {
    if (member) sizes.push_back(member->capacity);
  }
  if (sizes.empty()) return 0;
  const std::uint64_t smallest = *std::min_element(sizes.begin(), sizes.end());
  switch (config.raw_mode) {
    case kModeJbod: {
      std::uint64_t sum = 0;
      for (std::uint64_t s : sizes)
        sum += s;
      return sum;
    }
    case kModeStriping:
      return smallest * sizes.size();
    default:
      return smallest;
  }
}

InquiryIdentity IdentityOf(const EnclosureSpec& config) {
  return {config.vendor, config.product, config.product_revision};
}

}  // namespace

SimEnclosure::SimEnclosure(unsigned drive_number, EnclosureSpec config, Clock& clock)
    : SimDevice(drive_number, config.disk_capacity, IdentityOf(config)),
      clock_(clock),
      spec_(std::move(config)) {
  array_capacity_ = spec_.array_capacity.value_or(DefaultArrayCapacity(spec_));
  for (unsigned port = 0; port < 2; ++port) {
    if (spec_.members[port]) {
      bays_[port].member.emplace(*spec_.members[port]);
      bays_[port].state = spec_.port_states[port];
    } else {
      bays_[port].state = spec_.absent_state;
    }
  }
  factory_image_ = BuildFirmwareImage(
      {spec_.firmware_type, std::span<const std::uint8_t>(spec_.revision), spec_.flash_image_size});
  flash_.Store(0, factory_image_);
  SimDevice::SetFaults(spec_.faults);
  SetControllerFaultsLocked(spec_.faults);
  if (spec_.rebuild) StartRebuild(spec_.rebuild->port, spec_.rebuild->duration_ms);
}

// --- the array ---

bool SimEnclosure::PullDrive(unsigned port) {
  std::lock_guard lock(mutex_);
  if (port > 1 || !bays_[port].member) return false;
  UpdateRebuildLocked();
  Bay& bay = bays_[port];
  bay.pulled = std::move(bay.member);
  bay.member.reset();
  bay.state = spec_.absent_state;
  // A rebuild cannot go on without its target or its source.
  if (rebuild_) {
    rebuild_.reset();
    Bay& other = bays_[1 - port];
    if (other.member && other.state == kPortRebuildTarget) other.state = kPortNewlyInserted;
  }
  return true;
}

bool SimEnclosure::InsertDrive(unsigned port, std::optional<MemberSpec> member,
                               std::uint8_t state) {
  std::lock_guard lock(mutex_);
  if (port > 1 || bays_[port].member) return false;
  Bay& bay = bays_[port];
  if (member) {
    bay.member.emplace(std::move(*member));
  } else if (bay.pulled) {
    bay.member = std::move(bay.pulled);
    bay.pulled.reset();
  } else {
    bay.member.emplace(EnclosureSpec::DefaultMember(port));
  }
  bay.state = state;
  return true;
}

bool SimEnclosure::StartRebuild(unsigned port, std::uint64_t duration_ms,
                                std::optional<std::uint64_t> started_ms) {
  std::lock_guard lock(mutex_);
  if (port > 1 || !bays_[port].member) return false;
  rebuild_ = Rebuild{port, started_ms.value_or(clock_.NowMs()), duration_ms};
  bays_[port].state = kPortRebuildTarget;
  UpdateRebuildLocked();  // a zero duration ends at once
  return true;
}

void SimEnclosure::FinishRebuild() {
  std::lock_guard lock(mutex_);
  if (!rebuild_) return;
  bays_[rebuild_->port].state = kPortInArray;
  rebuild_.reset();
}

bool SimEnclosure::SetPortState(unsigned port, std::uint8_t state) {
  std::lock_guard lock(mutex_);
  if (port > 1) return false;
  bays_[port].state = state;
  return true;
}

void SimEnclosure::SetMode(std::uint8_t raw_mode) {
  std::lock_guard lock(mutex_);
  spec_.raw_mode = raw_mode;
}

void SimEnclosure::SetFan(std::uint16_t rpm) {
  std::lock_guard lock(mutex_);
  spec_.fan_rpm = rpm;
}

void SimEnclosure::SetTemperature(std::uint8_t celsius) {
  std::lock_guard lock(mutex_);
  spec_.temperature = celsius;
}

void SimEnclosure::SetSensorsReported(bool reported) {
  std::lock_guard lock(mutex_);
  spec_.sensors = reported;
}

void SimEnclosure::SetSmartAttribute(unsigned port, const SmartAttributeSpec& attribute) {
  std::lock_guard lock(mutex_);
  if (port <= 1 && bays_[port].member) bays_[port].member->SetAttribute(attribute);
}

std::uint8_t SimEnclosure::PortState(unsigned port) const {
  std::lock_guard lock(mutex_);
  UpdateRebuildLocked();
  return port <= 1 ? bays_[port].state : spec_.absent_state;
}

bool SimEnclosure::MemberPresent(unsigned port) const {
  std::lock_guard lock(mutex_);
  return port <= 1 && bays_[port].member.has_value();
}

bool SimEnclosure::RebuildRunning() const {
  std::lock_guard lock(mutex_);
  UpdateRebuildLocked();
  return rebuild_.has_value();
}

BridgeKind SimEnclosure::kind() const {
  std::lock_guard lock(mutex_);
  return spec_.kind;
}

std::array<std::uint8_t, 8> SimEnclosure::revision() const {
  std::lock_guard lock(mutex_);
  return spec_.revision;
}

std::uint64_t SimEnclosure::ArrayCapacity() const {
  std::lock_guard lock(mutex_);
  return array_capacity_;
}

void SimEnclosure::UpdateRebuildLocked() const {
  if (rebuild_ && RebuildElapsedLocked() >= rebuild_->duration_ms) {
    bays_[rebuild_->port].state = kPortInArray;
    rebuild_.reset();
  }
}

std::uint64_t SimEnclosure::RebuildElapsedLocked() const {
  const std::uint64_t now = clock_.NowMs();
  return rebuild_ && now > rebuild_->start_ms ? now - rebuild_->start_ms : 0;
}

unsigned SimEnclosure::BayOfChannel(unsigned channel) const {
  return spec_.PortOrderBit() ? channel : 1 - channel;
}

bool SimEnclosure::ReportsPresent(const Bay& bay) const {
  if (!bay.member) return false;
  switch (bay.state) {
    case kPortInArray:
    case kPortRebuildTarget:
    case kPortNewlyInserted:
    case kPortTooSmall:
      return true;
    default:
      return false;
  }
}

// --- the flash ---

std::vector<std::uint8_t> SimEnclosure::FlashBytes(std::uint32_t address,
                                                   std::uint32_t length) const {
  std::lock_guard lock(mutex_);
  return flash_.Bytes(address, length);
}

void SimEnclosure::StoreFlash(std::uint32_t address, std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  flash_.Store(address, bytes);
}

std::vector<std::uint8_t> SimEnclosure::FactoryImage() const {
  std::lock_guard lock(mutex_);
  return factory_image_;
}

// --- faults ---

void SimEnclosure::SetFaults(const FaultSpec& faults) {
  SimDevice::SetFaults(faults);
  std::lock_guard lock(mutex_);
  SetControllerFaultsLocked(faults);
}

void SimEnclosure::SetControllerFaultsLocked(const FaultSpec& faults) {
  faults_.extra_delay_ms = faults.answer_delay_ms;
  faults_.never_answer = faults.never_answer;
  faults_.wrong_second_signature = faults.wrong_second_signature;
  faults_.forced_status = faults.force_status ? faults.force_status->status : 0;
  faults_.forced_count = faults.force_status ? faults.force_status->count : 0;
  faults_.flash_failures = faults.flash_failures;
  faults_.lying_flash_writes = faults.lying_flash_writes;
  faults_.drive_command_faults = faults.drive_command_faults;
}

void SimEnclosure::SetAnswerDelay(std::uint32_t extra_ms) {
  std::lock_guard lock(mutex_);
  faults_.extra_delay_ms = extra_ms;
}

void SimEnclosure::SetNeverAnswer(bool never) {
  std::lock_guard lock(mutex_);
  faults_.never_answer = never;
}

void SimEnclosure::SetWrongSecondSignature(bool wrong) {
  std::lock_guard lock(mutex_);
  faults_.wrong_second_signature = wrong;
}

void SimEnclosure::ForceStatus(std::uint8_t status, std::uint32_t count) {
  std::lock_guard lock(mutex_);
  faults_.forced_status = status;
  faults_.forced_count = count;
}

void SimEnclosure::FailFlashBlock(std::uint32_t address, std::uint32_t times) {
  std::lock_guard lock(mutex_);
  faults_.flash_failures.push_back({address, times});
}

void SimEnclosure::SetLyingFlashWrites(bool lying) {
  std::lock_guard lock(mutex_);
  faults_.lying_flash_writes = lying;
}

void SimEnclosure::FailDriveCommand(const FaultSpec::DriveCommandFault& fault) {
  std::lock_guard lock(mutex_);
  faults_.drive_command_faults.push_back(fault);
}

bool SimEnclosure::FlashFaultFires(std::uint32_t block) {
  for (auto it = faults_.flash_failures.begin(); it != faults_.flash_failures.end(); ++it) {
    if (it->address / kFlashBlockSize == block && it->times > 0) {
      if (--it->times == 0) faults_.flash_failures.erase(it);
      return true;
    }
  }
  return false;
}

// --- the wire ---

void SimEnclosure::ServeRead(std::uint32_t lba, std::uint32_t blocks, std::span<std::uint8_t> out,
                             ReadOutcome& outcome) {
  UpdateRebuildLocked();
  // The controller sees the address of the command; the blocks after it are plain data.
  KnockDecoder::Step step = decoder_.Observe(lba);
  if (step.packet_started) answer_.reset();
  if (step.error) outcome.decode_error = std::move(step.error);
  if (step.packet) {
    outcome.packet = step.packet;
    outcome.violation = Execute(*step.packet);
  }
  const std::uint64_t now = clock_.NowMs();
  for (std::uint32_t i = 0; i < blocks; ++i) {
    auto block = out.subspan(std::size_t{i} * kBlockBytes, kBlockBytes);
    if (lba + i == kAnswerLba && answer_ && now >= answer_->ready_ms) {
      std::copy(answer_->sector.begin(), answer_->sector.end(), block.begin());
    } else {
      PlainBlock(lba + i, block);
    }
  }
}

void SimEnclosure::ResetBridgeLocked() {
  decoder_ = KnockDecoder{};
  answer_.reset();
  drive_result_.reset();
}

}  // namespace raid::sim
