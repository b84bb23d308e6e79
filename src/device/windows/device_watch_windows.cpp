#include "device/device_watch.h"

namespace raid {

// The window registers for WM_DEVICECHANGE itself; raidctl recounts.
std::unique_ptr<DeviceChangeWatcher> CreatePlatformDeviceWatcher(std::string* why) {
  if (why != nullptr) *why = "no device event source without a window";
  return nullptr;
}

}  // namespace raid
