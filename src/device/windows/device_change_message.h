// SPDX-License-Identifier: GPL-2.0-or-later
// What a WM_DEVICECHANGE says about the host's disks: whether a drive number may now name
// another disk, or none, so that the schedule's settle delay and discovery should look again.
#pragma once

#include <windows.h>

namespace raid {

// The disk interface class {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}: an enclosure's array
// appears as one of these once Windows can open it.
inline constexpr GUID kDiskInterfaceClass = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
// The USB device interface class {A5DCBF10-6530-11D2-901F-00C04FB951ED}: the enclosure's
// bridge, which comes and goes with the cable.
inline constexpr GUID kUsbDeviceInterfaceClass = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// `event` and `data` are the message's wParam and lParam. True for a disk, a USB device or a
// volume that arrived or is gone, and for the broadcast that some device node changed. Requests
// (a removal may be refused), pending removals, ports, other interface classes and drivers'
// custom events move no disk.
bool DeviceChangeMatters(WPARAM event, LPARAM data);

}  // namespace raid
