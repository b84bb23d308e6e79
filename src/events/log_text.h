// SPDX-License-Identifier: GPL-2.0-or-later
// Texts of the daily log that do not belong to one event: the separator, the time stamp and the
// file name.
#pragma once

#include <chrono>
#include <string>

namespace raid {

inline constexpr const char* kLogSeparator =
    "-----------------------------------------------------------------------------------";

// The locale's short date, a blank and its long time (strftime "%x %X" in local time).
std::string TimeStampText(std::chrono::system_clock::time_point when);

// "yymmdd.log" of the local date.
std::string LogFileName(std::chrono::system_clock::time_point when);

}  // namespace raid
