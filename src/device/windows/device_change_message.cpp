// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/windows/device_change_message.h"

// After windows.h:
#include <dbt.h>

#include <cstddef>

namespace raid {
namespace {

bool InterfaceMatters(const DEV_BROADCAST_HDR& header) {
  // A notice too short to name its class is taken as one of ours: better a needless discovery
  // pass than an enclosure missed.
  if (header.dbch_size < offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) return true;
  const auto& notice = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W&>(header);
  return IsEqualGUID(notice.dbcc_classguid, kDiskInterfaceClass) ||
         IsEqualGUID(notice.dbcc_classguid, kUsbDeviceInterfaceClass);
}

}  // namespace

bool DeviceChangeMatters(WPARAM event, LPARAM data) {
  // Broadcast to top-level windows without saying which node changed.
  if (event == DBT_DEVNODES_CHANGED) return true;
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return false;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
  if (header == nullptr) return true;
  switch (header->dbch_devicetype) {
    case DBT_DEVTYP_DEVICEINTERFACE:
      return InterfaceMatters(*header);
    case DBT_DEVTYP_VOLUME:
      // Discovery maps drive letters to disks.
      return true;
    default:
      return false;
  }
}

}  // namespace raid
