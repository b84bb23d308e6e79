// A DiskSystem that hands every call to another one: the base of wrappers that watch or change
// only the physical drives they open.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device/disk_system.h"

namespace raid {

class ForwardingDiskSystem : public DiskSystem {
 public:
  explicit ForwardingDiskSystem(DiskSystem& inner) : inner_(inner) {}

  std::unique_ptr<Disk> OpenPhysicalDrive(unsigned number, OpenFailure* why = nullptr) override {
    return inner_.OpenPhysicalDrive(number, why);
  }
  std::unique_ptr<Disk> OpenVolume(const std::string& volume, OpenFailure* why = nullptr) override {
    return inner_.OpenVolume(volume, why);
  }
  std::vector<std::string> LogicalVolumes() override { return inner_.LogicalVolumes(); }
  DriveType VolumeDriveType(const std::string& volume) override {
    return inner_.VolumeDriveType(volume);
  }
  std::string PhysicalDrivePath(unsigned number) override {
    return inner_.PhysicalDrivePath(number);
  }

 protected:
  DiskSystem& inner() { return inner_; }

 private:
  DiskSystem& inner_;
};

}  // namespace raid
