// SPDX-License-Identifier: GPL-2.0-or-later
// The device-change source of both programs on Windows: a message-only window on a thread of
// its own, registered for the disk and the USB device interface classes. raidctl has no window
// to receive WM_DEVICECHANGE on, and the window's own would tie notices to Qt's event loop; a
// message-only window gets no broadcasts, so it hears exactly what it registered for.
#pragma once

#include <windows.h>

#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "device/device_watch.h"

namespace raid {

class MessageWindowWatcher : public DeviceChangeWatcher {
 public:
  // Returns once the window is registered for notices; empty, with `why` set, when it cannot be.
  static std::unique_ptr<MessageWindowWatcher> Start(std::string* why);
  // Ends the window's thread; the window and its registrations go with it.
  ~MessageWindowWatcher() override;
  MessageWindowWatcher(const MessageWindowWatcher&) = delete;
  MessageWindowWatcher& operator=(const MessageWindowWatcher&) = delete;

  // Asked on another thread than the window's: taking a change is an atomic exchange.
  bool TakeChanges() override { return changed_.exchange(false); }

  // Where the notices arrive (a test sends its own there).
  HWND window() const { return window_; }

 private:
  MessageWindowWatcher() = default;
  // The window's thread: makes and registers the window, tells `started` what failed (nothing
  // when all went well), then serves the window's messages until it is closed.
  void Run(std::promise<std::string>& started);

  std::atomic<bool> changed_{false};
  HWND window_ = nullptr;
  std::thread thread_;
};

}  // namespace raid
