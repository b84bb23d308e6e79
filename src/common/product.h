// SPDX-License-Identifier: GPL-2.0-or-later
// The program's name and version as the user sees them.
#pragma once

namespace raid {

inline constexpr const char* kVersionText = "v0.50.11-4";
inline constexpr const char* kTitleText = "RAID GUI v0.50.11-4";  // "RAID GUI " + kVersionText

}  // namespace raid
