#include "app/native_window_events.h"

namespace raid {

// The kernel's device events come through the libudev watcher; the session's end through the
// session manager's commit-data request (see main.cpp).
void InstallNativeWindowEvents(QWidget*, std::function<void()>, std::function<bool()>) {}

}  // namespace raid
