// SPDX-License-Identifier: GPL-2.0-or-later
// Reads that hang or fail the way a bridge makes them, as the program's transport meets them: a
// hung read costs the command's time-out and no more, a reset bridge's CHECK CONDITION is a failed
// read, and the exchange after either one works.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "device/controller_commands.h"
#include "device/scsi_commands.h"
#include "device/transport.h"
#include "sim_host.h"
#include "support/build_paths.h"
#include "support/simulated_host_test.h"

namespace raid {
namespace {

using ::testing::IsEmpty;

class HungReadTest : public testing::OneEnclosureTest {
 protected:
  void SetUp() override { BuildEnclosure(); }
  // A status query and the clock time it took.
  std::pair<ResultCode, std::uint64_t> TimedQuery(std::uint8_t code) {
    const std::uint64_t start = clock_.NowMs();
    const ResultCode result = commands_->QueryControllerOn(target_, code, out_);
    return {result, clock_.NowMs() - start};
  }
};

TEST_F(HungReadTest, AReadThatHangsForMinutesFailsTheQueryAtTheReadTimeOut) {
  // The first knock read hangs for ten minutes; the operating system gives up after 30 s.
  enclosure().HoldReads(std::nullopt, 10 * 60 * 1000, 1);
  const auto [hung, hung_ms] = TimedQuery(kQueryArrayStatus);
  EXPECT_EQ(hung, kResultKnockFailed);
  EXPECT_GE(hung_ms, kRead10TimeoutSeconds * 1000U);
  EXPECT_LT(hung_ms, kRead10TimeoutSeconds * 1000U + 1000U);

  // A read of block 17 that hangs: the answer is never read.
  enclosure().HoldReads(kResponseBlock, 10 * 60 * 1000, 1);
  const auto [unread, unread_ms] = TimedQuery(kQueryArrayStatus);
  EXPECT_EQ(unread, kResultResponseReadFailed);
  EXPECT_LT(unread_ms, kRead10TimeoutSeconds * 1000U + 1000U);

  const auto [next, next_ms] = TimedQuery(kQueryArrayStatus);
  EXPECT_EQ(next, kResultDone);
  EXPECT_LT(next_ms, 100U);
}

TEST_F(HungReadTest, AShortHoldOnlyDelaysTheAnswer) {
  enclosure().HoldReads(kResponseBlock, 2000, 1);
  const auto [result, took_ms] = TimedQuery(kQueryControllerInfo);
  EXPECT_EQ(result, kResultDone);
  EXPECT_GE(took_ms, 2000U);
  EXPECT_LT(took_ms, 2100U);
  EXPECT_EQ(out_[kResponseStatusOffset], 0x20);
}

TEST_F(HungReadTest, CheckConditionFromAResetBridgeIsAFailedReadAndTheNextExchangeWorks) {
  std::unique_ptr<Disk> disk = host_->OpenPhysicalDrive(kDrive);
  std::array<std::uint8_t, 512> block{};
  enclosure().UnitAttentionAt(0x500, 1);
  EXPECT_FALSE(PassThroughRead(*disk, 0x500, 1, block));
  EXPECT_TRUE(PassThroughRead(*disk, 0x500, 1, block));

  // In the knock: a header read after the preamble.
  enclosure().UnitAttentionAt(0x104, 1);
  EXPECT_EQ(transport_.SendVendorCommand(*disk, kDirectionIn, kQueryArrayStatus, 0xCF, 0xDF, 0xEF,
                                         {}, kCommandLimitMs),
            kResultKnockFailed);
  EXPECT_FALSE(transport_.ResponsePolled());
  EXPECT_EQ(transport_.SendVendorCommand(*disk, kDirectionIn, kQueryArrayStatus, 0xCF, 0xDF, 0xEF,
                                         {}, kCommandLimitMs),
            kResultDone);

  // At block 17: the reset also took the answer, so the next exchange asks again from scratch.
  enclosure().UnitAttentionAt(kResponseBlock, 1);
  EXPECT_EQ(transport_.SendVendorCommand(*disk, kDirectionIn, kQueryControllerAlive, 0xCF, 0xDF,
                                         0xEF, {}, kAliveQueryLimitMs),
            kResultResponseReadFailed);
  EXPECT_EQ(transport_.SendVendorCommand(*disk, kDirectionIn, kQueryControllerAlive, 0xCF, 0xDF,
                                         0xEF, {}, kAliveQueryLimitMs),
            kResultDone);
  EXPECT_EQ(host_->recorder().Packets(kDrive).size(), 3U);
}

// The shipped scenario of failing reads: the faults fire where discovery can bear them.
class ReadFaultsScenarioTest : public testing::SimulatedHostTest {};

TEST_F(ReadFaultsScenarioTest, DiscoveryFindsBothEnclosures) {
  sim::ScenarioParseResult loaded =
      sim::LoadScenarioFile(std::string(RAIDSIM_SCENARIO_DIR) + "/read_faults.json");
  ASSERT_TRUE(loaded.scenario) << loaded.error;
  scenario_ = std::move(*loaded.scenario);
  BuildHost();
  ASSERT_EQ(DiscoverAndInstall(), 2U);
  EXPECT_EQ(DriveNumberOf(registry().current[0].device_code), 1U);
  EXPECT_EQ(DriveNumberOf(registry().current[1].device_code), 3U);
  EXPECT_THAT(recorder().DecodeErrors(), IsEmpty());
}

}  // namespace
}  // namespace raid
