// SPDX-License-Identifier: GPL-2.0-or-later
// Whether the user's session may end now (a log-off or a shut-down). Not while the controller's
// flash is being rewritten: an enclosure cut off half way has no firmware to start again with.
// The window asks it for WM_QUERYENDSESSION on Windows and for the session manager's
// commit-data request elsewhere.
#pragma once

#include "common/shared_state.h"

namespace raid {

bool SessionMayEnd(const SharedState& state);

}  // namespace raid
