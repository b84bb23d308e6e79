// Whole decimal numbers typed by a person (a port, a time-out): the whole text or nothing.
#pragma once

#include <charconv>
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

}  // namespace raid
