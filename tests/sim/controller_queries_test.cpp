// SPDX-License-Identifier: GPL-2.0-or-later
// The status queries' answer layouts: controller information, array status, rebuild progress.
#include <gtest/gtest.h>

#include "sim_host.h"
#include "wire_client.h"

namespace raid::sim {
namespace {

using testing::BigEndianAt;
using testing::Block;
using testing::Exchange;
using testing::Query;
using testing::SwappedTextAt;

struct Fixture {
  explicit Fixture(EnclosureSpec config) : host(MakeScenario(std::move(config)), clock) {}
  static Scenario MakeScenario(EnclosureSpec config) {
    Scenario scenario;
    scenario.drives[4] = std::move(config);
    return scenario;
  }
  Block Ask(std::uint8_t code) {
    auto disk = host.OpenPhysicalDrive(4);
    return Exchange(*disk, Query(code));
  }
  VirtualClock clock;
  SimHost host;
};

TEST(ControllerQueries, ControllerInformationCarriesRevisionSensorsModelAndCapacity) {
  EnclosureSpec config;
  config.revision = {0x16, 0x05, 0x20, 0x13, 0x27, 0x70, 0x00, 0x00};
  config.fan_rpm = 0x0A3C;
  config.temperature = 44;
  config.model_text = "TORVANE TR6182";
  config.array_capacity = 0x0000123456789ABCULL;
  Fixture f(config);
  const Block info = f.Ask(0x11);
  ASSERT_EQ(info[48], 0x20);
  EXPECT_EQ(std::vector<std::uint8_t>(info.begin() + 88, info.begin() + 96),
            std::vector<std::uint8_t>(config.revision.begin(), config.revision.end()));
  EXPECT_EQ(info[124], 0);
  EXPECT_EQ(info[125], 0);
  EXPECT_EQ(info[127], 44);
  EXPECT_EQ(info[128], 0x0A);
  EXPECT_EQ(info[129], 0x3C);
  EXPECT_EQ(SwappedTextAt(info, 160, 40), "TORVANE TR6182" + std::string(26, ' '));
  EXPECT_EQ(testing::LittleEndianAt(info, 200, 6), 0x123456789ABCULL);
}

TEST(ControllerQueries, WithoutSensorsOrModelTextTheFieldsSaySo) {
  Fixture f(EnclosureSpec::PortMultiplier());
  const Block info = f.Ask(0x11);
  EXPECT_TRUE(info[124] != 0 || info[125] != 0);
  EXPECT_EQ(info[160], 0);
  EXPECT_TRUE(std::all_of(info.begin() + 160, info.begin() + 200, [](auto b) { return b == 0; }));
}

TEST(ControllerQueries, ArrayStatusPlacesHdd1ByThePortOrderBit) {
  EnclosureSpec config;
  config.members[0]->serial = "SERIAL-HDD1";
  config.members[0]->capacity = 1000000;
  config.members[1]->serial = "SERIAL-HDD2";
  config.members[1]->capacity = 2000000;
  config.port_states = {0, 6};

  config.revision[3] = 0x13;  // bit 4 set: HDD1 in the block at 84
  {
    Fixture f(config);
    const Block status = f.Ask(0x17);
    EXPECT_EQ(status[80], 2);
    EXPECT_EQ(SwappedTextAt(status, 84 + 44, 20), "SERIAL-HDD1         ");
    EXPECT_EQ(BigEndianAt(status, 84 + 70, 6), 1000000u);
    EXPECT_EQ(status[84], 0);
    EXPECT_EQ(SwappedTextAt(status, 160 + 44, 20), "SERIAL-HDD2         ");
    EXPECT_EQ(status[160], 6);
    EXPECT_EQ(SwappedTextAt(status, 84 + 4, 40).substr(0, 21), "NORTHWIND NW1000SA-01");
  }
  config.revision[3] = 0x03;  // bit 4 clear: HDD1 in the block at 160
  {
    Fixture f(config);
    const Block status = f.Ask(0x17);
    EXPECT_EQ(SwappedTextAt(status, 160 + 44, 20), "SERIAL-HDD1         ");
    EXPECT_EQ(BigEndianAt(status, 160 + 70, 6), 1000000u);
    EXPECT_EQ(status[84], 6);
    EXPECT_EQ(SwappedTextAt(status, 84 + 44, 20), "SERIAL-HDD2         ");
  }
}

TEST(ControllerQueries, APulledDriveLeavesOnlyItsStateInTheBlock) {
  EnclosureSpec config;
  config.absent_state = 0x05;
  Fixture f(config);
  ASSERT_TRUE(f.host.enclosure(4)->PullDrive(1));
  const Block status = f.Ask(0x17);
  EXPECT_EQ(status[160], 0x05);
  EXPECT_TRUE(
      std::all_of(status.begin() + 161, status.begin() + 236, [](auto b) { return b == 0; }));

  ASSERT_TRUE(f.host.enclosure(4)->InsertDrive(1));  // the same drive back, newly inserted
  const Block again = f.Ask(0x17);
  EXPECT_EQ(again[160], 6);
  EXPECT_EQ(SwappedTextAt(again, 160 + 44, 20).substr(0, 12), "NW1A00004712");
}

TEST(ControllerQueries, RebuildProgressAdvancesWithTheClockAndEndsInTheArray) {
  EnclosureSpec config;
  config.array_capacity = 1000000;
  Fixture f(config);
  ASSERT_TRUE(f.host.enclosure(4)->StartRebuild(1, 100000));

  Block progress = f.Ask(0x15);
  EXPECT_EQ(progress[84], 2);
  EXPECT_EQ(BigEndianAt(progress, 94, 6), 1000000u);
  EXPECT_EQ(BigEndianAt(progress, 119, 5), 0u);
  EXPECT_EQ(f.Ask(0x17)[160], 1);

  f.clock.Advance(25000);
  progress = f.Ask(0x15);
  EXPECT_EQ(progress[84], 2);
  EXPECT_EQ(BigEndianAt(progress, 119, 5), 250000u);

  f.clock.Advance(75000);
  progress = f.Ask(0x15);
  EXPECT_NE(progress[84], 2);
  EXPECT_EQ(f.Ask(0x17)[160], 0);
  EXPECT_FALSE(f.host.enclosure(4)->RebuildRunning());
}

TEST(ControllerQueries, QueriesWithWrongArgumentsFail) {
  Fixture f(EnclosureSpec{});
  auto disk = f.host.OpenPhysicalDrive(4);
  const Block answer = Exchange(*disk, testing::Packet{4, 0x17, 0xCF, 0xDF, 0x00, {}});
  EXPECT_EQ(answer[48], 0xE0);
}

}  // namespace
}  // namespace raid::sim
