// SPDX-License-Identifier: GPL-2.0-or-later
// Failures that hold their status-bar panel against the texts written meanwhile.
#include "common/panel_texts.h"

#include <gtest/gtest.h>

namespace raid {
namespace {

TEST(PanelTexts, AFailureHoldsItsPanelUntilItEndsAndTheLatestTextThenShows) {
  PanelTexts texts;
  EXPECT_TRUE(texts.Set(4, "SMART row"));
  EXPECT_TRUE(texts.Hold(4, "log", "The daily log cannot be saved now"));
  EXPECT_FALSE(texts.Set(4, "another row"));  // waits behind the failure
  EXPECT_EQ(texts.Shown(4), "The daily log cannot be saved now");
  EXPECT_EQ(texts.Shown(3), "");  // other panels are free
  EXPECT_TRUE(texts.Set(3, "G = 2x, 01"));

  // A second failure shows over the first; the first shows again when it ends.
  EXPECT_TRUE(texts.Hold(4, "no response 1", "Device2: No response"));
  EXPECT_FALSE(texts.Hold(4, "log", "The daily log cannot be saved now: disk full"));
  EXPECT_EQ(texts.Shown(4), "The daily log cannot be saved now: disk full");
  EXPECT_TRUE(texts.Release(4, "log"));
  EXPECT_EQ(texts.Shown(4), "Device2: No response");
  EXPECT_FALSE(texts.Release(4, "log"));
  EXPECT_TRUE(texts.Release(4, "no response 1"));
  EXPECT_FALSE(texts.Held(4));
  EXPECT_EQ(texts.Shown(4), "another row");

  // Panels that do not exist are refused, not written.
  EXPECT_FALSE(texts.Set(5, "x"));
  EXPECT_FALSE(texts.Hold(-1, "k", "x"));
  EXPECT_EQ(texts.Shown(7), "");
}

}  // namespace
}  // namespace raid
