// SPDX-License-Identifier: GPL-2.0-or-later
#include "health/attribute_names.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "common/bytes.h"

namespace raid {
namespace {

constexpr std::string_view kUnknownName = "UnKnown";

// Searched from the top: the first entry with an ID wins.
constexpr std::array<std::pair<std::uint8_t, std::string_view>, 64> kNames = {{
    {0x01, "Raw read error rate"},
    {0x02, "Throughput performance"},
    {0x03, "Spinup time"},
    {0x04, "Start/Stop count"},
    {0x05, "Reallocated sector count"},
    {0x06, "Read channel margin"},
    {0x07, "Seek error rate"},
    {0x08, "Seek timer performance"},
    {0x09, "Power-on hours count"},
    {0x0A, "Spinup retry count"},
    {0x0B, "Calibration retry count"},
    {0x0C, "Power cycle count"},
    {0x0D, "Soft read error rate"},
    {0xB4, "Unused Reserved Block Count Total"},
    {0xB7, "SATA Downshift Error Count"},
    {0xB8, "End-to-End error / IOEDC"},
    {0xB9, "Head Stability"},
    {0xBA, "Induced Op-Vibration Detection"},
    {0xBB, "Reported Uncorrectable Errors"},
    {0xBC, "Command Timeout"},
    {0xBD, "High Fly Writes"},
    {0xBE, "Airflow Temperature"},
    {0xBF, "G-sense error rate"},
    {0xC0, "Power-off retract count"},
    {0xC1, "Load/Unload cycle count"},
    {0xC2, "Temperature"},
    {0xC3, "Hardware ECC recovered"},
    {0xC4, "Reallocation Event count"},
    {0xC5, "Current pending sector count"},
    {0xC6, "Offline scan uncorrectable count"},
    {0xC7, "UDMA CRC error rate"},
    {0xC8, "Multi-Zone Error Rate"},
    {0xC9, "Soft Read Error Rate"},
    {0xCA, "Data Address Mark errors"},
    {0xCB, "Run Out Cancel"},
    {0xCC, "Soft ECC Correction"},
    {0xCD, "Thermal Asperity Rate (TAR)"},
    {0xCE, "Flying Height"},
    {0xCF, "Spin High Current"},
    {0xD0, "Spin Buzz"},
    {0xD1, "Offline Seek Performance"},
    {0xD3, "Vibration During Write"},
    {0xD4, "Shock During Write"},
    {0xDC, "Disk Shift"},
    {0xDD, "G-Sense Error Rate"},
    {0xDE, "Loaded Hours"},
    {0xDF, "Load/Unload Retry Count"},
    {0xE0, "Load Friction"},
    {0xE1, "Load/Unload Cycle Count"},
    {0xE2, "Load 'In'-time"},
    {0xE3, "Torque Amplification Count"},
    {0xE4, "Power-Off Retract Cycle"},
    {0xE6, "GMR Head Amplitude"},
    {0xE7, "Drive temperature"},
    {0xE8, "Endurance Remaining"},
    {0xE8, "Available Reserved Space"},
    {0xE9, "Power-On Hours"},
    {0xE9, "Media Wearout Indicator"},
    {0xF0, "Head Flying Hours"},
    {0xF0, "Transfer Error Rate"},
    {0xF1, "Total LBAs Written"},
    {0xF2, "Total LBAs Read"},
    {0xFA, "Read Error Retry Rate"},
    {0xFE, "Free Fall Protection"},
}};

std::optional<std::string_view> FindName(std::uint8_t id) {
  const auto entry = std::find_if(kNames.begin(), kNames.end(),
                                  [id](const auto& named) { return named.first == id; });
  if (entry == kNames.end()) return std::nullopt;
  return entry->second;
}

}  // namespace

std::string_view AttributeName(std::uint8_t id) {
  return FindName(id).value_or(kUnknownName);
}

std::string AttributeColumnText(std::uint8_t id) {
  const std::optional<std::string_view> name = FindName(id);
  if (!name) return HexUpper(id, 2) + "h-" + std::string(kUnknownName);
  return HexUpper(id, 2) + "-" + std::string(*name);
}

}  // namespace raid
