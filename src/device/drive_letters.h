// SPDX-License-Identifier: GPL-2.0-or-later
// Which drive letters a logical drive mask (bit 0 = A) offers as volumes. Platform-neutral so the
// rule is tested everywhere, though only Windows has such a mask.
#pragma once

#include <cstdint>
#include <vector>

namespace raid {

// Letters of the set bits from C upwards. A and B (floppy drives) are never volumes, so a mask
// below 4 gives none; at most the 24 letters C..Z, bits above Z are ignored.
std::vector<char> DriveLettersFromMask(std::uint32_t mask);

}  // namespace raid
