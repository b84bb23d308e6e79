// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/windows/windows_disk_system.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "device/drive_letters.h"
#include "device/platform_disk_system.h"
#include "device/scsi_commands.h"
#include "device/windows/exchange_mutex.h"
#include "device/windows/pass_through_record.h"

namespace raid {

namespace {

// Room for exactly one extent: a volume on several disks makes the query fail.
static_assert(sizeof(VOLUME_DISK_EXTENTS) == 32);

// The device number of the opened disk and the serial its device reports: a disk that takes
// the number of one that went away has another serial. Whatever the platform cannot answer is
// left out; empty when it answers neither.
DiskIdentity IdentityOfOpenDisk(HANDLE handle) {
  DiskIdentity identity;
  STORAGE_DEVICE_NUMBER number{};
  DWORD returned = 0;
  if (DeviceIoControl(handle, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number,
                      &returned, nullptr)) {
    identity = "disk " + std::to_string(number.DeviceNumber);
  }
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  std::array<std::uint8_t, 1024> buffer{};
  if (DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, buffer.data(),
                      static_cast<DWORD>(buffer.size()), &returned, nullptr) &&
      returned >= sizeof(STORAGE_DEVICE_DESCRIPTOR)) {
    STORAGE_DEVICE_DESCRIPTOR descriptor;
    std::memcpy(&descriptor, buffer.data(), sizeof descriptor);
    const DWORD offset = descriptor.SerialNumberOffset;
    if (offset != 0 && offset < returned) {
      const char* text = reinterpret_cast<const char*>(buffer.data() + offset);
      const std::size_t length = strnlen(text, returned - offset);
      identity += " serial " + std::string(text, length);
    }
  }
  return identity;
}

class WindowsDisk : public Disk {
 public:
  // `hold_name` names the disk machine-wide for HoldAgainstOtherProcesses; empty for a volume,
  // which is never the target of an exchange.
  WindowsDisk(HANDLE handle, std::string hold_name)
      : handle_(handle), identity_(IdentityOfOpenDisk(handle)), hold_name_(std::move(hold_name)) {}
  ~WindowsDisk() override { CloseHandle(handle_); }
  WindowsDisk(const WindowsDisk&) = delete;
  WindowsDisk& operator=(const WindowsDisk&) = delete;

  ScsiOutcome ExecuteDataIn(const ScsiDataIn& command) override {
    PassThroughRecord record;
    if (!FillPassThroughRecord(command, record)) return {};
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(handle_, IOCTL_SCSI_PASS_THROUGH_DIRECT, &record, sizeof record,
                                    &record, sizeof record, &returned, nullptr);
    ScsiOutcome outcome;
    if (!ok) return outcome;
    outcome.status = record.request.ScsiStatus;
    if (outcome.status == kScsiStatusCheckCondition) {
      outcome.transported = true;
      outcome.sense = DecodeSense(std::span<const std::uint8_t>(
          record.sense,
          std::min<std::size_t>(record.request.SenseInfoLength, sizeof record.sense)));
      return outcome;
    }
    // On return DataTransferLength holds what was moved: a short transfer delivered no block.
    outcome.transported = record.request.DataTransferLength == command.data.size();
    return outcome;
  }

  DiskIdentity Identity() override { return identity_; }

  bool HoldAgainstOtherProcesses(std::uint32_t wait_ms) override {
    if (hold_name_.empty()) return true;
    if (!hold_) hold_ = std::make_unique<ExchangeMutex>(hold_name_);
    return hold_->Acquire(wait_ms);
  }

  std::optional<DiskExtent> VolumeDiskExtent() override {
    VOLUME_DISK_EXTENTS extents{};
    DWORD returned = 0;
    if (!DeviceIoControl(handle_, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &extents,
                         sizeof extents, &returned, nullptr) ||
        extents.NumberOfDiskExtents == 0) {
      return std::nullopt;
    }
    const DISK_EXTENT& first = extents.Extents[0];
    DiskExtent extent;
    extent.disk_number = first.DiskNumber;
    extent.starting_offset = static_cast<std::uint64_t>(first.StartingOffset.QuadPart);
    extent.extent_length = static_cast<std::uint64_t>(first.ExtentLength.QuadPart);
    return extent;
  }

 private:
  HANDLE handle_;
  DiskIdentity identity_;
  std::string hold_name_;
  std::unique_ptr<ExchangeMutex> hold_;  // let go after the handle is closed
};

OpenFailure FailureFromError(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return OpenFailure::kAccessDenied;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return OpenFailure::kNotFound;
    case ERROR_SHARING_VIOLATION:  // opened by a program that shares it with nobody
      return OpenFailure::kInUse;
    default:
      return OpenFailure::kOther;
  }
}

// Read and write access with shared access: the pass-through ioctl demands write access to the
// handle, though nothing is ever written to the disk.
std::unique_ptr<Disk> OpenDevicePath(const std::string& path, OpenFailure* why,
                                     std::string hold_name = {}) {
  const HANDLE handle =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (why != nullptr) *why = FailureFromError(GetLastError());
    return nullptr;
  }
  if (why != nullptr) *why = OpenFailure::kNone;
  return std::make_unique<WindowsDisk>(handle, std::move(hold_name));
}

// The drive letter a volume name stands for, upper case.
std::optional<char> DriveLetter(const std::string& volume) {
  if (volume.size() != 1) return std::nullopt;
  const char c = volume[0];
  if (c >= 'A' && c <= 'Z') return c;
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  return std::nullopt;
}

}  // namespace

std::unique_ptr<Disk> WindowsDiskSystem::OpenPhysicalDrive(unsigned number, OpenFailure* why) {
  return OpenDevicePath(PhysicalDrivePath(number), why, "PhysicalDrive" + std::to_string(number));
}

std::unique_ptr<Disk> WindowsDiskSystem::OpenVolume(const std::string& volume, OpenFailure* why) {
  const std::optional<char> letter = DriveLetter(volume);
  if (!letter) {
    if (why != nullptr) *why = OpenFailure::kNotFound;
    return nullptr;
  }
  return OpenDevicePath(std::string("\\\\.\\") + *letter + ":", why);
}

std::vector<std::string> WindowsDiskSystem::LogicalVolumes() {
  std::vector<std::string> volumes;
  for (const char letter : DriveLettersFromMask(GetLogicalDrives())) {
    volumes.emplace_back(1, letter);
  }
  return volumes;
}

DriveType WindowsDiskSystem::VolumeDriveType(const std::string& volume) {
  const std::optional<char> letter = DriveLetter(volume);
  if (!letter) return DriveType::kNoRootDir;
  const UINT type = GetDriveTypeA((std::string(1, *letter) + ":\\").c_str());
  // The enumeration carries Windows' own codes; anything newer is unknown to us.
  return type <= static_cast<UINT>(DriveType::kRamDisk) ? static_cast<DriveType>(type)
                                                        : DriveType::kUnknown;
}

std::string WindowsDiskSystem::PhysicalDrivePath(unsigned number) {
  return "\\\\.\\PhysicalDrive" + std::to_string(number);
}

std::unique_ptr<DiskSystem> CreatePlatformDiskSystem() {
  return std::make_unique<WindowsDiskSystem>();
}

}  // namespace raid
