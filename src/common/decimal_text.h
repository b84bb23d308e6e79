// SPDX-License-Identifier: GPL-2.0-or-later
// Decimal numbers typed by a person (a port, a time-out, a number of seconds): the whole text or
// nothing.
#pragma once

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

namespace raid {

inline std::optional<unsigned long> ParseDecimal(std::string_view text) {
  unsigned long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// A finite number from `low` to `high`: "inf", "nan" and "1e300" are refused like "abc", so that
// no later arithmetic with it can overflow.
inline std::optional<double> ParseNumberInRange(std::string_view text, double low, double high) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value)) {
    return std::nullopt;
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}

}  // namespace raid
