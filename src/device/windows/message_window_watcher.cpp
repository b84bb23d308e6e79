// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/windows/message_window_watcher.h"

// After windows.h:
#include <dbt.h>

#include <array>
#include <vector>

#include "device/windows/device_change_message.h"

namespace raid {
namespace {

constexpr const wchar_t* kWindowClass = L"raidgui.DeviceChangeWatcher";

// The registrations of the window: a disk for the array, the USB device for the bridge.
constexpr std::array kWatchedClasses = {kDiskInterfaceClass, kUsbDeviceInterfaceClass};

LRESULT CALLBACK WatcherProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_NCCREATE: {
      const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lparam);
      SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
      break;
    }
    case WM_DEVICECHANGE:
      if (DeviceChangeMatters(wparam, lparam)) {
        reinterpret_cast<std::atomic<bool>*>(GetWindowLongPtrW(window, GWLP_USERDATA))->store(true);
      }
      // Never refuses a removal that asks first.
      return TRUE;
    case WM_CLOSE:
      // The thread unregisters and destroys the window once its loop has ended.
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// Once per process; a second watcher finds the class there.
bool RegisterWindowClass(HINSTANCE instance) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = WatcherProcedure;
  window_class.hInstance = instance;
  window_class.lpszClassName = kWindowClass;
  return RegisterClassExW(&window_class) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

std::string Failure(const char* what) {
  // Taken before building the text, whose allocations may set another.
  const DWORD error = GetLastError();
  return std::string(what) + " failed (error " + std::to_string(error) + ")";
}

}  // namespace

std::unique_ptr<MessageWindowWatcher> MessageWindowWatcher::Start(std::string* why) {
  std::unique_ptr<MessageWindowWatcher> watcher(new MessageWindowWatcher);
  std::promise<std::string> started;
  std::future<std::string> outcome = started.get_future();
  watcher->thread_ = std::thread([&started, self = watcher.get()] { self->Run(started); });
  const std::string failure = outcome.get();
  if (failure.empty()) return watcher;
  watcher->thread_.join();
  if (why != nullptr) *why = "no device notices: " + failure;
  return nullptr;
}

MessageWindowWatcher::~MessageWindowWatcher() {
  // A watcher that failed to start has ended its thread already.
  if (!thread_.joinable()) return;
  // Sent, not posted: a full message queue cannot lose it.
  SendMessageW(window_, WM_CLOSE, 0, 0);
  thread_.join();
}

void MessageWindowWatcher::Run(std::promise<std::string>& started) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!RegisterWindowClass(instance)) {
    started.set_value(Failure("RegisterClassExW"));
    return;
  }
  const HWND window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      instance, &changed_);
  if (window == nullptr) {
    started.set_value(Failure("CreateWindowExW"));
    return;
  }
  std::vector<HDEVNOTIFY> registrations;
  std::string failure;
  for (const GUID& watched : kWatchedClasses) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = watched;
    const HDEVNOTIFY registration =
        RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (registration == nullptr) {
      failure = Failure("RegisterDeviceNotificationW");
      break;
    }
    registrations.push_back(registration);
  }
  if (failure.empty()) {
    window_ = window;
    // `started` belongs to Start, which returns once it has its answer.
    started.set_value({});
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
      DispatchMessageW(&message);
  }
  for (const HDEVNOTIFY registration : registrations)
    UnregisterDeviceNotification(registration);
  DestroyWindow(window);
  if (!failure.empty()) started.set_value(failure);
}

// Both programs hear device changes through the message-only window.
std::unique_ptr<DeviceChangeWatcher> CreatePlatformDeviceWatcher(std::string* why) {
  return MessageWindowWatcher::Start(why);
}

}  // namespace raid
