// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/enclosure_list.h"

#include <algorithm>

namespace raid {
namespace {

// Reply bytes of the controller information query that carry live sensor readings.
constexpr std::size_t kLiveTemperature = 127;
constexpr std::size_t kLiveFanHigh = 128;
constexpr std::size_t kLiveFanLow = 129;

}  // namespace

bool SameEnclosure(const IdentificationBlock& a, const IdentificationBlock& b) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (i == kLiveTemperature || i == kLiveFanHigh || i == kLiveFanLow) continue;
    if (a[i] != b[i]) return false;
  }
  return true;
}

std::vector<ListChange> CompareEnclosureLists(const std::vector<IdentificationBlock>& old_list,
                                              const std::vector<IdentificationBlock>& new_list) {
  std::vector<ListChange> changes;
  const unsigned old_count = static_cast<unsigned>(old_list.size());
  const unsigned new_count = static_cast<unsigned>(new_list.size());
  if (old_count == new_count) return changes;

  unsigned i = 0;  // new list
  unsigned c = 0;  // old list
  while (c < old_count && i < new_count) {
    if (SameEnclosure(old_list[c], new_list[i])) {
      ++c;
      ++i;
      continue;
    }
    unsigned j = i;
    while (j < new_count && !SameEnclosure(old_list[c], new_list[j]))
      ++j;
    if (j < new_count) {
      for (unsigned k = i; k < j; ++k)
        changes.push_back({ListChange::Kind::kFound, k});
      i = j + 1;
    } else {
      changes.push_back({ListChange::Kind::kRemoved, c});
    }
    ++c;
  }
  for (; i < new_count; ++i)
    changes.push_back({ListChange::Kind::kFound, i});
  for (; c < old_count; ++c)
    changes.push_back({ListChange::Kind::kRemoved, c});
  return changes;
}

std::vector<ListChange> InstallNewList(EnclosureRegistry& registry, bool initial_detection) {
  std::vector<ListChange> changes;
  if (!initial_detection) {
    std::vector<IdentificationBlock> old_blocks;
    for (const EnclosureInfo& info : registry.current) {
      old_blocks.push_back(registry.previous_blocks[DriveNumberOf(info.device_code)]);
    }
    std::vector<IdentificationBlock> new_blocks;
    for (const EnclosureInfo& info : registry.fresh) {
      new_blocks.push_back(registry.running_blocks[DriveNumberOf(info.device_code)]);
    }
    changes = CompareEnclosureLists(old_blocks, new_blocks);
  }
  registry.current = registry.fresh;
  registry.previous_blocks = registry.running_blocks;
  registry.volumes = registry.fresh_volumes;
  return changes;
}

void FollowUpgradeTarget(const EnclosureRegistry& registry,
                         std::atomic<std::uint16_t>& upgrade_target_index) {
  if (!registry.fresh_upgrade_target) return;
  auto expected = static_cast<std::uint16_t>(registry.fresh_upgrade_target->from);
  upgrade_target_index.compare_exchange_strong(
      expected, static_cast<std::uint16_t>(registry.fresh_upgrade_target->to));
}

}  // namespace raid
