// SPDX-License-Identifier: GPL-2.0-or-later
#include "sim_host.h"

#include <utility>

#include "host_core.h"

namespace raid::sim {

SimHost::SimHost(Scenario scenario, Clock& clock)
    : core_(std::make_shared<HostCore>(std::move(scenario), clock)) {}

SimHost::~SimHost() = default;

std::unique_ptr<Disk> SimHost::OpenPhysicalDrive(unsigned number, OpenFailure* why) {
  return core_->OpenPhysicalDrive(core_, number, why);
}

std::unique_ptr<Disk> SimHost::OpenVolume(const std::string& volume, OpenFailure* why) {
  return core_->OpenVolume(core_, volume, why);
}

std::vector<std::string> SimHost::LogicalVolumes() {
  return core_->LogicalVolumes();
}

DriveType SimHost::VolumeDriveType(const std::string& volume) {
  return core_->VolumeDriveType(volume);
}

std::string SimHost::PhysicalDrivePath(unsigned number) {
  core_->RecordPathQuery(number);
  return "sim:PhysicalDrive" + std::to_string(number);
}

Recorder& SimHost::recorder() {
  return core_->recorder();
}

SimEnclosure* SimHost::enclosure(unsigned number) {
  return dynamic_cast<SimEnclosure*>(core_->Device(number).get());
}

SimPlainDisk* SimHost::plain_disk(unsigned number) {
  return dynamic_cast<SimPlainDisk*>(core_->Device(number).get());
}

SimDevice* SimHost::device(unsigned number) {
  return core_->Device(number).get();
}

void SimHost::Plug(unsigned number, DriveSpec config) {
  core_->Plug(number, config);
}

bool SimHost::PlugBack(unsigned number) {
  return core_->PlugBack(number);
}

void SimHost::Unplug(unsigned number) {
  core_->Unplug(number);
}

bool SimHost::Move(unsigned from, unsigned to) {
  return core_->Move(from, to);
}

bool SimHost::IsPresent(unsigned number) {
  return core_->IsPresent(number);
}

void SimHost::SetOpenable(unsigned number, bool openable) {
  core_->SetOpenable(number, openable);
}

void SimHost::AddVolume(VolumeSpec volume) {
  core_->AddVolume(std::move(volume));
}

bool SimHost::RemoveVolume(const std::string& name) {
  return core_->RemoveVolume(name);
}

void SimHost::ApplyDueEvents() {
  core_->ApplyDueEvents();
}

std::uint64_t SimHost::start_ms() const {
  return core_->start_ms();
}

void SimHost::StartTimeline(std::vector<TimelineEvent> events) {
  core_->StartTimeline(std::move(events));
}

SimDevice::ReadOutcome SimHost::BlockRead(unsigned number, std::uint32_t lba, std::uint32_t blocks,
                                          std::span<std::uint8_t> out) {
  return core_->BlockRead(number, lba, blocks, out);
}

}  // namespace raid::sim
