// SPDX-License-Identifier: GPL-2.0-or-later
// How the SMART table judges one attribute and a whole drive.
#pragma once

#include <cstdint>
#include <string_view>

#include "health/smart_sector.h"

namespace raid {

// An attribute's verdict: 0 good, 1 and 2 minor findings, 4 alert, 16 error.
inline constexpr std::uint8_t kVerdictGood = 0;
inline constexpr std::uint8_t kVerdictAlert = 4;
inline constexpr std::uint8_t kVerdictError = 16;

// Judged by ID from the worst value against the threshold (strictly below fails) and the raw
// value. IDs without a rule are good.
std::uint8_t AttributeVerdict(const SmartAttribute& attribute);

// Whether AttributeVerdict has a rule for `id`: only these attributes can change a verdict.
bool HasVerdictRule(std::uint8_t id);

// The drive's verdict after one more attribute: once an error, always an error; minor findings
// add up; otherwise the drive's verdict is at least the attribute's.
std::uint8_t AccumulateVerdict(std::uint8_t drive, std::uint8_t attribute);

enum class RowColour { kWhite, kYellow, kRed };
enum class VerdictColour { kBlack, kMaroon, kRed };

// The Status column of an attribute's row, and the row's colour: "Error" red, "Alert" yellow,
// "Good" white.
std::string_view AttributeVerdictText(std::uint8_t verdict);
RowColour AttributeRowColour(std::uint8_t verdict);

// The drive's overall label: " Error " red, " Good " black (a single minor finding still reads
// good), else " Warning " maroon.
std::string_view DriveVerdictText(std::uint8_t drive);
VerdictColour DriveVerdictColour(std::uint8_t drive);

}  // namespace raid
