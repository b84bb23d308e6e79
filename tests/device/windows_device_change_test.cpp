// SPDX-License-Identifier: GPL-2.0-or-later
// The Windows device notices: which WM_DEVICECHANGE sends discovery looking again, and the
// message-only window that hears them for both programs.
#include <windows.h>
// After windows.h:
#include <dbt.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/windows/device_change_message.h"
#include "device/windows/message_window_watcher.h"

namespace raid {
namespace {

// {4D1E55B2-F16F-11CF-88CB-001111000030}: the HID interface class, a mouse or a keyboard.
constexpr GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

DEV_BROADCAST_DEVICEINTERFACE_W InterfaceNotice(const GUID& interface_class) {
  DEV_BROADCAST_DEVICEINTERFACE_W notice{};
  notice.dbcc_size = sizeof notice;
  notice.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  notice.dbcc_classguid = interface_class;
  return notice;
}

template <typename Notice>
bool Matters(WPARAM event, const Notice& notice) {
  return DeviceChangeMatters(event, reinterpret_cast<LPARAM>(&notice));
}

TEST(DeviceChangeMessage, DisksAndUsbDevicesThatCameOrWentMatter) {
  for (const WPARAM event : {DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE}) {
    SCOPED_TRACE(event);
    EXPECT_TRUE(Matters(event, InterfaceNotice(kDiskInterfaceClass)));
    EXPECT_TRUE(Matters(event, InterfaceNotice(kUsbDeviceInterfaceClass)));
    EXPECT_FALSE(Matters(event, InterfaceNotice(kHidInterfaceClass)));

    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1U << ('E' - 'A');
    EXPECT_TRUE(Matters(event, volume));

    DEV_BROADCAST_PORT_W port{};
    port.dbcp_size = sizeof port;
    port.dbcp_devicetype = DBT_DEVTYP_PORT;
    EXPECT_FALSE(Matters(event, port));
  }
  // The broadcast to top-level windows names no device.
  EXPECT_TRUE(DeviceChangeMatters(DBT_DEVNODES_CHANGED, 0));
}

TEST(DeviceChangeMessage, RequestsAndPendingRemovalsMoveNoDisk) {
  const DEV_BROADCAST_DEVICEINTERFACE_W disk = InterfaceNotice(kDiskInterfaceClass);
  for (const WPARAM event :
       {DBT_DEVICEQUERYREMOVE, DBT_DEVICEQUERYREMOVEFAILED, DBT_DEVICEREMOVEPENDING,
        DBT_CUSTOMEVENT, DBT_QUERYCHANGECONFIG, DBT_CONFIGCHANGECANCELED}) {
    EXPECT_FALSE(Matters(event, disk)) << event;
  }
}

// Sent, not posted: SendMessage returns once the watcher's own thread has handled it.
void Send(const MessageWindowWatcher& watcher, WPARAM event, LPARAM data) {
  EXPECT_EQ(SendMessageW(watcher.window(), WM_DEVICECHANGE, event, data), TRUE);
}

TEST(MessageWindowWatcher, TakesEachChangeThatMattersOnceAndEndsWithItsWindow) {
  std::string why;
  std::unique_ptr<MessageWindowWatcher> watcher = MessageWindowWatcher::Start(&why);
  ASSERT_NE(watcher, nullptr) << why;
  EXPECT_EQ(watcher->WaitHandle(), -1);
  EXPECT_FALSE(watcher->TakeChanges());

  const DEV_BROADCAST_DEVICEINTERFACE_W disk = InterfaceNotice(kDiskInterfaceClass);
  Send(*watcher, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&disk));
  Send(*watcher, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&disk));
  EXPECT_TRUE(watcher->TakeChanges());
  EXPECT_FALSE(watcher->TakeChanges());

  // A refusable request is granted and changes nothing.
  Send(*watcher, DBT_DEVICEQUERYREMOVE, reinterpret_cast<LPARAM>(&disk));
  EXPECT_FALSE(watcher->TakeChanges());

  const HWND window = watcher->window();
  watcher.reset();
  EXPECT_FALSE(IsWindow(window));

  // The window class outlives the first watcher; a second one starts all the same.
  watcher = MessageWindowWatcher::Start(&why);
  ASSERT_NE(watcher, nullptr) << why;
  Send(*watcher, DBT_DEVNODES_CHANGED, 0);
  EXPECT_TRUE(watcher->TakeChanges());
}

}  // namespace
}  // namespace raid
