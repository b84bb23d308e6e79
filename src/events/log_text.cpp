// SPDX-License-Identifier: GPL-2.0-or-later
#include "events/log_text.h"

#include <array>
#include <ctime>

#include "common/platform_files.h"

namespace raid {
namespace {

std::string Format(std::chrono::system_clock::time_point when, const char* format) {
  const std::tm local = LocalTime(when);
  std::array<char, 128> text{};
  const std::size_t length = std::strftime(text.data(), text.size(), format, &local);
  return std::string(text.data(), length);
}

}  // namespace

std::string TimeStampText(std::chrono::system_clock::time_point when) {
  return Format(when, "%x %X");
}

std::string LogFileName(std::chrono::system_clock::time_point when) {
  return Format(when, "%y%m%d") + ".log";
}

}  // namespace raid
