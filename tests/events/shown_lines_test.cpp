// SPDX-License-Identifier: GPL-2.0-or-later
// What the event-log viewer makes of overlong lines, and how it hands a long text to the memo.
#include "events/shown_lines.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace raid {
namespace {

using ::testing::ElementsAre;

TEST(ShownLinesTest, LongLineShowsItsStartAndHowMuchWasLeftOut) {
  EXPECT_EQ(ShownLine(std::string(kLongestShownLine, 'a')), std::string(kLongestShownLine, 'a'));
  EXPECT_EQ(ShownLine(std::string(300 * 1024, 'a')),
            std::string(kLongestShownLine, 'a') + " \u2026 [line cut: " +
                std::to_string(300 * 1024 - kLongestShownLine) + " more characters]");

  // "é" is two bytes: the cut never splits one, and the rest is counted in characters.
  std::string accents(kLongestShownLine - 1, 'a');
  for (int i = 0; i < 10; ++i)
    accents += "\u00e9";
  EXPECT_EQ(ShownLine(accents), std::string(kLongestShownLine - 1, 'a') + CutLineNote(10));
}

TEST(ShownLinesTest, FileTextSplitsAtEitherLineEndAndCutsEachLine) {
  const std::string text = "one\r\ntwo\n\n" + std::string(1 << 20, 'z');  // no end after the last
  EXPECT_THAT(ShownLinesOf(text), ElementsAre("one", "two", "",
                                              std::string(kLongestShownLine, 'z') +
                                                  CutLineNote((1 << 20) - kLongestShownLine)));
}

TEST(ShownLinesTest, BatchesKeepEveryLineOnceInOrderAndStayWithinTheirSize) {
  LineBatches batches;
  batches.Add({"", "a", std::string(50, 'b')});
  batches.Add({});
  batches.Add({"c", "d", "e"});
  std::vector<std::string> texts;
  while (!batches.Empty())
    texts.push_back(batches.Next(6));
  // A line longer than a batch still goes, alone.
  EXPECT_THAT(texts, ElementsAre("\na", std::string(50, 'b'), "c\nd\ne"));

  batches.Add({"x"});
  batches.Clear();
  EXPECT_TRUE(batches.Empty());
}

}  // namespace
}  // namespace raid
