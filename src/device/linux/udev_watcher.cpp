// SPDX-License-Identifier: GPL-2.0-or-later
// Kernel device events through libudev's netlink monitor. The "kernel" source needs no udev
// daemon (containers and minimal systems often have none); the events come before udev has made
// the device nodes, which the settle delay of the schedule covers.
#include <libudev.h>

#include <cstring>

#include "device/device_watch.h"

namespace raid {
namespace {

class UdevWatcher : public DeviceChangeWatcher {
 public:
  UdevWatcher(udev* context, udev_monitor* monitor) : context_(context), monitor_(monitor) {}
  ~UdevWatcher() override {
    udev_monitor_unref(monitor_);
    udev_unref(context_);
  }
  UdevWatcher(const UdevWatcher&) = delete;
  UdevWatcher& operator=(const UdevWatcher&) = delete;

  int WaitHandle() const override { return udev_monitor_get_fd(monitor_); }

  bool TakeChanges() override {
    bool changed = false;
    // The descriptor is non-blocking: this drains what is queued and returns.
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
      changed = changed || Relevant(device);
      udev_device_unref(device);
    }
    return changed;
  }

 private:
  // Whole disks and USB devices; partitions and the rest come and go with them.
  static bool Relevant(udev_device* device) {
    const char* subsystem = udev_device_get_subsystem(device);
    const char* type = udev_device_get_devtype(device);
    if (subsystem == nullptr) return false;
    if (std::strcmp(subsystem, "block") == 0)
      return type == nullptr || std::strcmp(type, "disk") == 0;
    return std::strcmp(subsystem, "usb") == 0;
  }

  udev* context_;
  udev_monitor* monitor_;
};

}  // namespace

std::unique_ptr<DeviceChangeWatcher> CreatePlatformDeviceWatcher(std::string* why) {
  udev* context = udev_new();
  if (context == nullptr) {
    if (why != nullptr) *why = "libudev could not start";
    return nullptr;
  }
  udev_monitor* monitor = udev_monitor_new_from_netlink(context, "kernel");
  if (monitor == nullptr || udev_monitor_enable_receiving(monitor) < 0) {
    if (why != nullptr) *why = "the kernel's device events cannot be received here";
    if (monitor != nullptr) udev_monitor_unref(monitor);
    udev_unref(context);
    return nullptr;
  }
  return std::make_unique<UdevWatcher>(context, monitor);
}

}  // namespace raid
