// SPDX-License-Identifier: GPL-2.0-or-later
// A simulated host and its timeline, as a scenario file describes it (see scenarios/README.md).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "hardware.h"

namespace raid::sim {

namespace action {
struct PullMember {
  unsigned port = 0;
};
struct InsertMember {
  unsigned port = 0;
  std::optional<MemberSpec> member;  // empty: the drive pulled from that port earlier
  std::uint8_t state = kPortNewlyInserted;
};
struct StartRebuild {
  unsigned port = 0;
  std::uint64_t duration_ms = 0;
};
struct FinishRebuild {};
struct SetPortState {
  unsigned port = 0;
  std::uint8_t state = 0;
};
struct SetMode {
  std::uint8_t raw_mode = 0;
};
struct SetFan {
  std::uint16_t rpm = 0;
};
struct SetTemperature {
  std::uint8_t celsius = 0;
};
struct Unplug {};
struct Plug {
  std::optional<DriveSpec> drive;  // empty: the device unplugged from that number earlier
};
struct SetFaults {
  FaultSpec faults;
};
// The host renumbers the disk: same attach, same state, volumes and all, under number `to`.
struct Move {
  unsigned to = 0;
};
}  // namespace action

using TimelineAction = std::variant<action::PullMember, action::InsertMember, action::StartRebuild,
                                    action::FinishRebuild, action::SetPortState, action::SetMode,
                                    action::SetFan, action::SetTemperature, action::Unplug,
                                    action::Plug, action::SetFaults, action::Move>;

struct TimelineEvent {
  std::uint64_t at_ms = 0;  // from the host's creation
  unsigned drive = 0;
  TimelineAction action;
};

inline constexpr unsigned kMaxDrives = 16;

struct Scenario {
  std::string description;
  std::uint64_t seed = 1;
  // The wall-clock time at which the story starts (its log's time stamps and day files); now
  // when not given.
  std::optional<std::chrono::system_clock::time_point> starts_at;
  std::map<unsigned, DriveSpec> drives;  // physical drive number -> device
  std::vector<VolumeSpec> volumes;       // in the order the host lists them
  std::vector<TimelineEvent> timeline;
};

struct ScenarioParseResult {
  std::optional<Scenario> scenario;
  std::string error;  // which field, what was wrong
};

// A scenario file is read whole; a larger one is refused.
inline constexpr std::uintmax_t kScenarioFileMaxBytes = 16 * 1024 * 1024;

ScenarioParseResult ParseScenario(std::string_view json_text);
ScenarioParseResult LoadScenarioFile(const std::string& path);

}  // namespace raid::sim
