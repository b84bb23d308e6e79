// The window messages the shell answers itself on Windows: device arrival and removal
// (WM_DEVICECHANGE, after registering for the USB device interface class) and the session's
// end (WM_QUERYENDSESSION). Elsewhere the kernel's device events and the session manager's
// commit-data request do the same, and this does nothing.
#pragma once

#include <functional>

class QWidget;

namespace raid {

// Installs the filter for `window`; `device_changed` runs on every device message and
// `query_end_session` answers whether the session may end.
void InstallNativeWindowEvents(QWidget* window, std::function<void()> device_changed,
                               std::function<bool()> query_end_session);

}  // namespace raid
