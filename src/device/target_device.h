// Which physical drive a controller command addresses.
#pragma once

#include <cstdint>
#include <optional>

#include "common/shared_state.h"
#include "device/enclosure_list.h"

namespace raid {

// The upgrade target while a firmware upgrade addresses it, else the drive being probed while
// discovery runs, else the selected enclosure. Empty when the rule names no listed enclosure:
// then nothing is sent rather than a command to whatever disk happens to be drive 0.
std::optional<std::uint32_t> TargetDevice(const SharedState& state,
                                          const EnclosureRegistry& registry);

}  // namespace raid
