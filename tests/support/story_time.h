// SPDX-License-Identifier: GPL-2.0-or-later
// A fixed local noon for tests whose stories run minutes of clock time: their logs stay in one
// day's file whenever the test runs, also shortly before midnight.
#pragma once

#include <chrono>
#include <ctime>

namespace raid::testing {

inline std::chrono::system_clock::time_point StoryNoon() {
  std::tm noon{};
  noon.tm_year = 2026 - 1900;
  noon.tm_mon = 11;
  noon.tm_mday = 8;
  noon.tm_hour = 12;
  noon.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&noon));
}

}  // namespace raid::testing
