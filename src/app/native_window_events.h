// SPDX-License-Identifier: GPL-2.0-or-later
// The window message the shell answers itself on Windows: the session's end
// (WM_QUERYENDSESSION). Elsewhere the session manager's commit-data request does the same, and
// this does nothing. Device changes reach the window through its DeviceChangeWatcher on every
// platform.
#pragma once

#include <functional>

class QWidget;

namespace raid {

// Installs the filter for `window`; `query_end_session` answers whether the session may end.
void InstallNativeWindowEvents(QWidget* window, std::function<bool()> query_end_session);

}  // namespace raid
