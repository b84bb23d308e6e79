// SPDX-License-Identifier: GPL-2.0-or-later
// A SATA drive behind the bridge: what it answers to IDENTIFY DEVICE, SMART READ DATA and SMART
// READ THRESHOLDS, laid out as ATA drives lay them out.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "hardware.h"

namespace raid::sim {

using Sector = std::array<std::uint8_t, 512>;

inline constexpr std::size_t kSmartSlots = 30;

// The attribute set of a healthy, middle-aged hard disk.
std::vector<SmartAttributeSpec> DefaultSmartAttributes();

class MemberDrive {
 public:
  explicit MemberDrive(MemberSpec config);

  const MemberSpec& config() const { return spec_; }
  const std::vector<SmartAttributeSpec>& attributes() const { return attributes_; }
  // Replaces the attribute with the same id, or adds it in the next free slot.
  void SetAttribute(const SmartAttributeSpec& attribute);

  Sector IdentifyData() const;
  Sector SmartData() const;
  Sector SmartThresholds() const;

 private:
  MemberSpec spec_;
  std::vector<SmartAttributeSpec> attributes_;
};

}  // namespace raid::sim
