// SPDX-License-Identifier: GPL-2.0-or-later
// One window per user session on Windows: the named mutex.
#include <gtest/gtest.h>

#include <memory>

#include "common/single_instance.h"

namespace raid {
namespace {

TEST(WindowsSingleInstance, ASecondStartFailsWhileTheFirstHoldsTheMutexAndWorksAfter) {
  std::unique_ptr<SingleInstance> first = SingleInstance::Acquire();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(SingleInstance::Acquire(), nullptr);
  // A refused start leaves the first one's hold as it was.
  EXPECT_EQ(SingleInstance::Acquire(), nullptr);
  first.reset();
  EXPECT_NE(SingleInstance::Acquire(), nullptr);
}

}  // namespace
}  // namespace raid
