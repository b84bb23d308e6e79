// Injected faults: each one visible on the wire exactly as described, and reproducible.
#include <gtest/gtest.h>

#include "sim_host.h"
#include "wire_client.h"

namespace raid::sim {
namespace {

using testing::Block;
using testing::Exchange;
using testing::Packet;
using testing::Query;
using testing::ReadBlock;
using testing::ReadBlockOrFail;

class Faults : public ::testing::Test {
 protected:
  Faults() : host_(MakeScenario(), clock_) {}
  static Scenario MakeScenario() {
    Scenario scenario;
    scenario.drives[2] = EnclosureSpec{};
    scenario.drives[5] = PlainDiskSpec{};
    return scenario;
  }
  SimEnclosure& enclosure() { return *host_.enclosure(2); }

  VirtualClock clock_;
  SimHost host_;
};

TEST_F(Faults, LateAndNeverAnsweringControllers) {
  enclosure().SetAnswerDelay(3000);
  auto disk = host_.OpenPhysicalDrive(2);
  EXPECT_FALSE(testing::IsRaidAnswer(Exchange(*disk, Query(0x10))));
  clock_.Advance(3000);
  EXPECT_TRUE(testing::IsRaidAnswer(ReadBlockOrFail(*disk, 17)));

  enclosure().SetAnswerDelay(0);
  enclosure().SetNeverAnswer(true);
  EXPECT_FALSE(testing::IsRaidAnswer(Exchange(*disk, Query(0x10))));
  clock_.Advance(600000);
  EXPECT_FALSE(testing::IsRaidAnswer(ReadBlockOrFail(*disk, 17)));
  EXPECT_EQ(host_.recorder().Packets(2).size(), 2u);  // heard, just not answered
}

TEST_F(Faults, WrongSecondSignatureKeepsTheFirst) {
  enclosure().SetWrongSecondSignature(true);
  auto disk = host_.OpenPhysicalDrive(2);
  const Block answer = Exchange(*disk, Query(0x10));
  EXPECT_EQ(testing::TextAt(answer, 0, 16), "__TORVANE6182A__");
  EXPECT_NE(testing::TextAt(answer, 496, 16), "__SATA6GRAID01__");
  EXPECT_EQ(answer[48], 0x20);
}

TEST_F(Faults, ForcedStatusCoversTheNextAnswersOnly) {
  enclosure().ForceStatus(0xC0, 2);
  auto disk = host_.OpenPhysicalDrive(2);
  EXPECT_EQ(Exchange(*disk, Query(0x10))[48], 0xC0);
  EXPECT_EQ(Exchange(*disk, Query(0x17))[48], 0xC0);
  EXPECT_EQ(Exchange(*disk, Query(0x10))[48], 0x20);
}

TEST_F(Faults, FlashBlockFailsKTimesThenWorks) {
  enclosure().FailFlashBlock(0x80, 2);
  auto disk = host_.OpenPhysicalDrive(2);
  const Packet read{4, 0x20, 1, 0x00, 0x01, {}};
  EXPECT_EQ(Exchange(*disk, read)[48], 0xE0);
  EXPECT_EQ(Exchange(*disk, Packet{4, 0x20, 1, 0x00, 0x02, {}})[48], 0x20);  // other blocks work
  EXPECT_EQ(Exchange(*disk, read)[48], 0xE0);
  const Block third = Exchange(*disk, read);
  EXPECT_EQ(third[48], 0x20);
  EXPECT_EQ(testing::TextAt(third, 80, 4), "KDRX");
}

TEST_F(Faults, LyingFlashWritesClaimSuccessAndChangeNothing) {
  enclosure().SetLyingFlashWrites(true);
  const auto before = enclosure().FlashBytes(0x100, 128);
  auto disk = host_.OpenPhysicalDrive(2);
  EXPECT_EQ(Exchange(*disk, Packet{5, 0x25, 1, 0x00, 0x02, std::vector<std::uint8_t>(128, 0)})[48],
            0x20);
  EXPECT_EQ(enclosure().FlashBytes(0x100, 128), before);
}

TEST_F(Faults, AVanishingDeviceFailsReadsAndOpensUntilPluggedBack) {
  enclosure().VanishAfterReads(3);
  auto disk = host_.OpenPhysicalDrive(2);
  Block block{};
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(ReadBlock(*disk, 100 + i, block)) << i;
  EXPECT_FALSE(ReadBlock(*disk, 200, block));
  EXPECT_FALSE(ReadBlock(*disk, 201, block));
  disk.reset();

  OpenFailure why = OpenFailure::kNone;
  EXPECT_EQ(host_.OpenPhysicalDrive(2, &why), nullptr);
  EXPECT_EQ(why, OpenFailure::kNotFound);

  ASSERT_TRUE(host_.PlugBack(2));
  disk = host_.OpenPhysicalDrive(2);
  ASSERT_NE(disk, nullptr);
  EXPECT_TRUE(ReadBlock(*disk, 200, block));
}

TEST_F(Faults, ReadFailuresByCountByBlockAndByRate) {
  SimDevice& plain = *host_.device(5);
  auto disk = host_.OpenPhysicalDrive(5);
  Block block{};
  plain.FailNextReads(2);
  EXPECT_FALSE(ReadBlock(*disk, 1, block));
  EXPECT_FALSE(ReadBlock(*disk, 1, block));
  EXPECT_TRUE(ReadBlock(*disk, 1, block));

  plain.FailReadsAt(17, 1);
  EXPECT_TRUE(ReadBlock(*disk, 16, block));
  EXPECT_FALSE(ReadBlock(*disk, 17, block));
  EXPECT_TRUE(ReadBlock(*disk, 17, block));

  // The same seed gives the same failures; about the asked share of them.
  auto pattern = [&](std::uint64_t seed) {
    plain.SetReadFailureRate(0.25, seed);
    std::vector<bool> results;
    for (int i = 0; i < 400; ++i)
      results.push_back(ReadBlock(*disk, 3, block));
    return results;
  };
  const auto first = pattern(7);
  EXPECT_EQ(pattern(7), first);
  EXPECT_NE(pattern(8), first);
  const auto failures = std::count(first.begin(), first.end(), false);
  EXPECT_GT(failures, 60);
  EXPECT_LT(failures, 140);
}

TEST_F(Faults, AFailedReadNeverReachesTheController) {
  enclosure().FailReadsAt(0x71, 1);
  auto disk = host_.OpenPhysicalDrive(2);
  const Block answer = Exchange(*disk, Query(0x10));
  EXPECT_FALSE(testing::IsRaidAnswer(answer));
  EXPECT_TRUE(host_.recorder().Packets(2).empty());
}

}  // namespace
}  // namespace raid::sim
