// SPDX-License-Identifier: GPL-2.0-or-later
// The one-byte result of every controller packet exchange.
#pragma once

#include <cstdint>

namespace raid {

using ResultCode = std::uint8_t;

inline constexpr ResultCode kResultDone = 0x00;
inline constexpr ResultCode kResultOpenFailed = 0xF0;          // also a controller status
inline constexpr ResultCode kResultResponseReadFailed = 0xF1;  // reading block 17 failed
inline constexpr ResultCode kResultNoAnswer = 0xF2;            // no signed answer in time
inline constexpr ResultCode kResultUnknownStatus = 0xF4;       // status byte not in the table
inline constexpr ResultCode kResultKnockFailed = 0xFF;         // also a controller status

// The controller's status byte as a result: 0x20 (and 0x00) mean done, the listed failure
// codes pass through, anything else becomes kResultUnknownStatus.
constexpr ResultCode MapControllerStatus(std::uint8_t status) {
  switch (status) {
    case 0x00:
    case 0x10:
    case 0x20:
    case 0xC0:
    case 0xD0:
    case 0xE0:
    case 0xF0:
    case 0xFF:
      return status;
    default:
      return kResultUnknownStatus;
  }
}

}  // namespace raid
