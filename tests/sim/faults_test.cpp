// SPDX-License-Identifier: GPL-2.0-or-later
// Injected faults: each one visible on the wire exactly as described, and reproducible.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <thread>

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

TEST_F(Faults, DriveCommandFaultsFailOrMisechoTheMatchingCommandsOnly) {
  auto disk = host_.OpenPhysicalDrive(2);
  std::vector<std::uint8_t> frame = {0x27, 0x80, 0xB0, 0xD0, 0x01, 0x4F, 0xC2, 0xE0, 0, 0,
                                     0,    0,    0x01, 0,    0,    0,    0,    0,    0, 0};
  frame.resize(128, 0);
  const Packet smart_data{5, 0xB1, 0xD0, 0, 0, frame};
  const auto part = [](std::uint8_t n) { return Packet{4, 0xB2, 0xD0, 0, n, {}}; };
  enclosure().FailDriveCommand({0xB1, 0xD0, 0, std::nullopt, 1});
  enclosure().FailDriveCommand({0xB2, 0, 3, std::array<std::uint8_t, 2>{0x00, 0x00}, 1});

  const Block failed = Exchange(*disk, smart_data);
  EXPECT_EQ(failed[48], 0xE0);
  EXPECT_EQ(failed[76], 0xB1);                    // a failed command still echoes itself
  EXPECT_EQ(Exchange(*disk, part(1))[48], 0xE0);  // and keeps no result to fetch

  ASSERT_EQ(Exchange(*disk, smart_data)[48], 0x20);  // the fault was used up
  EXPECT_EQ(Exchange(*disk, part(2))[77], 0xD0);
  const Block misechoed = Exchange(*disk, part(3));
  EXPECT_EQ(misechoed[48], 0x20);
  EXPECT_EQ(misechoed[76], 0x00);
  EXPECT_EQ(misechoed[77], 0x00);
  const Block again = Exchange(*disk, part(3));
  EXPECT_EQ(again[76], 0xB2);
  EXPECT_EQ(again[77], 0xD0);
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

TEST_F(Faults, ABridgeResetAnswersCheckConditionAndDeliversNothing) {
  enclosure().UnitAttentionAt(40, 2);
  auto disk = host_.OpenPhysicalDrive(2);
  Block block{};
  block.fill(0xAB);
  for (int i = 0; i < 2; ++i) {
    const ScsiOutcome outcome = disk->ExecuteDataIn(testing::Read10Cdb(40, 1, block));
    EXPECT_TRUE(outcome.transported);
    EXPECT_EQ(outcome.status, kScsiStatusCheckCondition);
    EXPECT_EQ(outcome.sense, (SenseCode{0x06, 0x29, 0x00}));
  }
  EXPECT_EQ(block[0], 0xAB);
  EXPECT_TRUE(ReadBlock(*disk, 40, block));
  EXPECT_FALSE(host_.recorder().CallsFor(2)[1].ok);
  EXPECT_TRUE(host_.recorder().ViolationTexts().empty());
}

TEST_F(Faults, ABridgeResetLosesTheHalfReadPacketAndThePendingAnswer) {
  auto disk = host_.OpenPhysicalDrive(2);
  ASSERT_TRUE(testing::IsRaidAnswer(Exchange(*disk, Query(0x10))));
  enclosure().UnitAttentionAt(17, 1);
  Block block{};
  EXPECT_FALSE(ReadBlock(*disk, 17, block));
  EXPECT_FALSE(testing::IsRaidAnswer(ReadBlockOrFail(*disk, 17)));

  // Reset in the middle of the knock: the rest of it is ordinary data to a fresh controller.
  const std::vector<std::uint32_t> knocks =
      testing::WithSeparators(testing::KnockAddresses(Query(0x11)));
  enclosure().UnitAttentionAt(knocks[9], 1);
  EXPECT_FALSE(testing::ReadAll(*disk, knocks));  // stops at the reset
  testing::ReadAll(*disk, std::vector<std::uint32_t>(knocks.begin() + 10, knocks.end()));
  EXPECT_FALSE(testing::IsRaidAnswer(ReadBlockOrFail(*disk, 17)));
  EXPECT_EQ(host_.recorder().Packets(2).size(), 1u);
  EXPECT_TRUE(host_.recorder().DecodeErrors().empty());

  EXPECT_EQ(Exchange(*disk, Query(0x11))[48], 0x20);
}

TEST_F(Faults, AHeldReadTakesItsTimeOrEndsUndeliveredAtTheTimeOut) {
  auto disk = host_.OpenPhysicalDrive(2);
  Block block{};
  // Whether the read was delivered, and how long it took on the host's clock.
  auto held_read = [&](std::uint32_t lba, std::uint32_t hold_ms, std::uint32_t timeout_s) {
    enclosure().HoldReads(lba, hold_ms, 1);
    ScsiDataIn command = testing::Read10Cdb(lba, 1, block);
    command.timeout_seconds = timeout_s;
    const std::uint64_t start = clock_.NowMs();
    const bool delivered = testing::Good(disk->ExecuteDataIn(command));
    return std::pair{delivered, clock_.NowMs() - start};
  };

  EXPECT_EQ(held_read(17, 600000, 30), std::pair(false, std::uint64_t{30000}));
  EXPECT_EQ(held_read(17, 30000, 30), std::pair(false, std::uint64_t{30000}));
  EXPECT_EQ(held_read(17, 600000, 0), std::pair(true, std::uint64_t{600000}));  // no time-out

  // A read that timed out never reached the controller: the rest of its knock makes no packet.
  const std::vector<std::uint32_t> knocks =
      testing::WithSeparators(testing::KnockAddresses(Query(0x10)));
  EXPECT_FALSE(held_read(knocks[0], 40000, 30).first);
  testing::ReadAll(*disk, std::vector<std::uint32_t>(knocks.begin() + 1, knocks.end()));
  EXPECT_TRUE(host_.recorder().Packets(2).empty());

  // A shorter hold is served at its end: an answer that fell due meanwhile is there.
  enclosure().SetAnswerDelay(1500);
  testing::ReadAll(*disk, knocks);
  EXPECT_EQ(held_read(17, 2000, 30), std::pair(true, std::uint64_t{2000}));
  EXPECT_TRUE(testing::IsRaidAnswer(block));
}

// A clock whose sleeps wait for the test to let them end.
class GatedClock : public Clock {
 public:
  std::uint64_t NowMs() override { return now_ms_.load(); }
  std::chrono::system_clock::time_point WallNow() override { return {}; }
  void SleepMs(std::uint32_t ms) override {
    std::unique_lock lock(mutex_);
    sleeping_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return open_; });
    now_ms_ += ms;
  }
  bool WaitUntilSleeping() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return sleeping_; });
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::atomic<std::uint64_t> now_ms_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool sleeping_ = false;
  bool open_ = false;
};

TEST(HeldReads, OtherDrivesStayUsableWhileAReadHangs) {
  GatedClock clock;
  Scenario scenario;
  scenario.drives[2] = EnclosureSpec{};
  scenario.drives[5] = PlainDiskSpec{};
  SimHost host(scenario, clock);
  host.device(2)->HoldReads(17, 5000, 1);

  std::thread hanging([&] {
    auto disk = host.OpenPhysicalDrive(2);
    Block block{};
    EXPECT_TRUE(ReadBlock(*disk, 17, block));
  });
  ASSERT_TRUE(clock.WaitUntilSleeping());

  // Another thread's reads of another drive, and of the same enclosure's INQUIRY, go through
  // while the first read is still held.
  std::mutex done_mutex;
  std::condition_variable done_changed;
  bool done = false;
  std::thread other([&] {
    {
      auto disk = host.OpenPhysicalDrive(5);
      Block block{};
      EXPECT_TRUE(ReadBlock(*disk, 1, block));
    }
    std::array<std::uint8_t, 36> inquiry{};
    EXPECT_TRUE(
        testing::Good(host.OpenPhysicalDrive(2)->ExecuteDataIn(testing::InquiryCdb(inquiry))));
    std::lock_guard lock(done_mutex);
    done = true;
    done_changed.notify_all();
  });
  bool finished_meanwhile = false;
  {
    std::unique_lock lock(done_mutex);
    finished_meanwhile =
        done_changed.wait_for(lock, std::chrono::seconds(10), [&] { return done; });
  }
  clock.Open();  // also frees a host that held its lock while sleeping, so the test can end
  other.join();
  hanging.join();
  EXPECT_TRUE(finished_meanwhile);
  EXPECT_EQ(clock.NowMs(), 5000u);
}

}  // namespace
}  // namespace raid::sim
