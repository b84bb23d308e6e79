// SPDX-License-Identifier: GPL-2.0-or-later
#include "power/session_end.h"

namespace raid {

bool SessionMayEnd(const SharedState& state) {
  return !state.upgrade.in_progress.load();
}

}  // namespace raid
