// SPDX-License-Identifier: GPL-2.0-or-later
#include "common/detached_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace raid {
namespace {

// Many threads started and let go at once, as the host queries and the log viewer do: each runs
// its own work exactly once and then lets go of what it held. MinGW's detach once started some
// of them with no work at all.
TEST(DetachedThread, EachRunsItsOwnWorkOnceAndLetsGo) {
  constexpr int kThreads = 500;
  std::atomic<int> sum{0};
  auto held = std::make_shared<int>(0);
  const std::weak_ptr<int> watched = held;
  for (int i = 1; i <= kThreads; ++i)
    ASSERT_TRUE(RunDetached([held, i, &sum] { sum += i; }));
  held.reset();

  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!watched.expired() && std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(watched.expired());
  EXPECT_EQ(sum.load(), kThreads * (kThreads + 1) / 2);
}

}  // namespace
}  // namespace raid
