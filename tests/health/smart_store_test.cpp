// SPDX-License-Identifier: GPL-2.0-or-later
// The SMART store between the RAID worker that writes it and the window that reads it.
#include "health/smart_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace raid {
namespace {

// The window takes copies while the RAID worker stores parts: every copied part is one write's.
TEST(SmartStoreConcurrent, ACopyNeverHoldsAHalfWrittenPart) {
  std::atomic<bool> thresholds_read{false};
  SmartStore store(thresholds_read);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    std::array<std::uint8_t, kSmartPartSize> part{};
    for (int round = 1; round <= 2000; ++round) {
      part.fill(static_cast<std::uint8_t>(round));
      for (std::size_t index = 0; index < kSmartParts; ++index)
        store.StorePart(0, 1, SmartSectorKind::kData, index, part);
    }
    done = true;
  });
  int torn = 0;
  while (!done.load()) {
    const SmartSector data = store.Snapshot(0, 1)->data;
    for (std::size_t index = 0; index < kSmartParts; ++index) {
      const auto first = data.begin() + index * kSmartPartSize;
      if (std::any_of(first, first + kSmartPartSize, [&](std::uint8_t b) { return b != *first; }))
        ++torn;
    }
  }
  worker.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(store.Snapshot(0, 1)->data[511], static_cast<std::uint8_t>(2000));
}

}  // namespace
}  // namespace raid
