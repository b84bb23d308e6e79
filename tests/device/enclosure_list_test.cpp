// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/enclosure_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace raid {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Kind = ListChange::Kind;

IdentificationBlock Block(std::uint8_t tag) {
  IdentificationBlock block{};
  block[54] = tag;
  return block;
}

TEST(CompareEnclosureLists, EqualCountsReportNothingEvenWhenContentsDiffer) {
  EXPECT_THAT(CompareEnclosureLists({Block(1)}, {Block(2)}), IsEmpty());
}

TEST(CompareEnclosureLists, EmptyOldListFindsEveryNewEnclosure) {
  EXPECT_THAT(CompareEnclosureLists({}, {Block(1), Block(2)}),
              ElementsAre(ListChange{Kind::kFound, 0}, ListChange{Kind::kFound, 1}));
}

TEST(CompareEnclosureLists, EmptyNewListRemovesEveryOldEnclosure) {
  EXPECT_THAT(CompareEnclosureLists({Block(1), Block(2)}, {}),
              ElementsAre(ListChange{Kind::kRemoved, 0}, ListChange{Kind::kRemoved, 1}));
}

TEST(CompareEnclosureLists, FirstOfTwoRemoved) {
  EXPECT_THAT(CompareEnclosureLists({Block(1), Block(2)}, {Block(2)}),
              ElementsAre(ListChange{Kind::kRemoved, 0}));
}

TEST(CompareEnclosureLists, InsertedInFrontIsFoundAndTheRestMatch) {
  EXPECT_THAT(CompareEnclosureLists({Block(2), Block(3)}, {Block(1), Block(2), Block(3)}),
              ElementsAre(ListChange{Kind::kFound, 0}));
}

TEST(CompareEnclosureLists, ReplacedAndAddedInOneChange) {
  // Old A B; new C B D: A is gone, C stands before B so it is new, D is new.
  EXPECT_THAT(CompareEnclosureLists({Block(1), Block(2)}, {Block(3), Block(2), Block(4)}),
              ElementsAre(ListChange{Kind::kRemoved, 0}, ListChange{Kind::kFound, 0},
                          ListChange{Kind::kFound, 2}));
  // Old A B E; new C B: A is gone, C is new, E is gone.
  EXPECT_THAT(CompareEnclosureLists({Block(1), Block(2), Block(5)}, {Block(3), Block(2)}),
              ElementsAre(ListChange{Kind::kRemoved, 0}, ListChange{Kind::kFound, 0},
                          ListChange{Kind::kRemoved, 2}));
}

TEST(SameEnclosure, LiveFanAndTemperatureDoNotMakeANewEnclosure) {
  IdentificationBlock a = Block(1);
  IdentificationBlock b = a;
  b[127] = 41;
  b[128] = 0x08;
  b[129] = 0x34;
  EXPECT_TRUE(SameEnclosure(a, b));
  b[46] = 0x09;  // a different firmware revision is a different enclosure
  EXPECT_FALSE(SameEnclosure(a, b));
}

TEST(InstallNewList, ReportsChangesOnlyAfterTheFirstDiscovery) {
  EnclosureRegistry registry;
  registry.fresh = {EnclosureInfo{.device_code = 0x41}, EnclosureInfo{.device_code = 0x43}};
  registry.running_blocks[1] = Block(1);
  registry.running_blocks[3] = Block(3);
  EXPECT_THAT(InstallNewList(registry, /*initial_detection=*/true), IsEmpty());
  EXPECT_EQ(registry.current.size(), 2U);
  EXPECT_EQ(registry.CurrentBlock(1), Block(3));

  // The next pass zeroes its running blocks and finds only the enclosure on drive 3.
  registry.running_blocks = {};
  registry.running_blocks[3] = Block(3);
  registry.fresh = {EnclosureInfo{.device_code = 0x43}};
  EXPECT_THAT(InstallNewList(registry, false), ElementsAre(ListChange{Kind::kRemoved, 0}));
  EXPECT_EQ(registry.current.size(), 1U);
  EXPECT_EQ(registry.CurrentBlock(0), Block(3));
}

}  // namespace
}  // namespace raid
