// SPDX-License-Identifier: GPL-2.0-or-later
// The large state text of an array: normal, single drive, failure, or the running rebuild or
// scan with its percentage. Lines are separated by line feeds.
#pragma once

#include <string>

#include "status/controller_status.h"

namespace raid {

std::string StateText(const ControllerStatus& record, bool scan_capable_firmware);

}  // namespace raid
