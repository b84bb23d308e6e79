// SPDX-License-Identifier: GPL-2.0-or-later
// The power request on Windows: taken and given back, as often as upgrades run.
#include <gtest/gtest.h>

#include "power/sleep_inhibitor.h"

namespace raid {
namespace {

TEST(PowerRequestTest, EitherHoldsOrSaysWhyAndCanBeTakenAgain) {
  for (int round = 0; round < 3; ++round) {
    std::string why_not;
    std::unique_ptr<SleepInhibitor> hold = InhibitSleep("Controller firmware upgrade", why_not);
    EXPECT_NE(hold == nullptr, why_not.empty()) << why_not;
  }
}

}  // namespace
}  // namespace raid
