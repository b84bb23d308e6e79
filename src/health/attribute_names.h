// SPDX-License-Identifier: GPL-2.0-or-later
// The names the SMART table gives attribute IDs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace raid {

// The first name the table holds for `id` (IDs 0xE8, 0xE9 and 0xF0 have a second entry that is
// never shown), or "UnKnown".
std::string_view AttributeName(std::uint8_t id);

// Column 0 of the table: "05-Reallocated sector count", or "10h-UnKnown" for an ID the table
// does not name.
std::string AttributeColumnText(std::uint8_t id);

}  // namespace raid
