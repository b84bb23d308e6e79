// SPDX-License-Identifier: GPL-2.0-or-later
// What a scenario's JSON must be before it is read as a scenario, checked in one pass over the
// text without building it: at most kMaxJsonDepth levels deep, as the checks and messages that
// walk a value recurse, and no key twice in one object, where the library would silently keep
// the last.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace raid::sim {

inline constexpr std::size_t kMaxJsonDepth = 64;

// Empty when the text is valid JSON of that shape; else what is wrong and where, with the place
// named as the scenario's field errors name it ("drives[0].type: given twice in one object").
std::optional<std::string> CheckJsonShape(std::string_view text);

}  // namespace raid::sim
