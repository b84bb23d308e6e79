// SPDX-License-Identifier: GPL-2.0-or-later
// The controller's command channel: decoding of knock sequences and the answer in block 17.
#include <gtest/gtest.h>

#include "sim_host.h"
#include "wire_client.h"

namespace raid::sim {
namespace {

using testing::Block;
using testing::Exchange;
using testing::KnockAddresses;
using testing::Packet;
using testing::Query;
using testing::ReadAll;
using testing::ReadBlockOrFail;
using testing::WithSeparators;

class KnockProtocol : public ::testing::Test {
 protected:
  KnockProtocol() : host_(MakeScenario(), clock_) {}

  static Scenario MakeScenario() {
    Scenario scenario;
    scenario.drives[1] = EnclosureSpec{};
    scenario.drives[2] = EnclosureSpec::PortMultiplier();
    scenario.drives[3] = PlainDiskSpec{};
    return scenario;
  }

  std::unique_ptr<Disk> Open(unsigned drive) { return host_.OpenPhysicalDrive(drive); }

  VirtualClock clock_;
  SimHost host_;
};

TEST_F(KnockProtocol, AliveQueryGetsAnAnswerSignedByTheControllerKind) {
  auto raid = Open(1);
  const Block answer = Exchange(*raid, Query(0x10));
  EXPECT_TRUE(testing::IsRaidAnswer(answer));
  EXPECT_EQ(answer[48], 0x20);

  const auto packets = host_.recorder().Packets(1);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].packet.opcode, 0x10);
  EXPECT_EQ(packets[0].packet.direction(), 4);
  EXPECT_EQ(packets[0].packet.p1, 0xCF);
  EXPECT_EQ(packets[0].packet.p3, 0xEF);
  EXPECT_FALSE(packets[0].packet.has_payload);
  raid.reset();

  auto bridge = Open(2);
  const Block pm_answer = Exchange(*bridge, Query(0x10));
  EXPECT_EQ(testing::TextAt(pm_answer, 0, 16), "__KELDRIX2109A__");
  EXPECT_EQ(testing::TextAt(pm_answer, 496, 16), "_PORTMULTIPLIER_");
  EXPECT_EQ(pm_answer[48], 0x20);
}

TEST_F(KnockProtocol, BlockSeventeenIsPlainDataUntilAValidPacketAndAWrongCheckGetsNoAnswer) {
  auto disk = Open(1);
  const Block before = ReadBlockOrFail(*disk, 17);
  EXPECT_FALSE(testing::IsRaidAnswer(before));

  ReadAll(*disk, WithSeparators(KnockAddresses(Query(0x10), /*check_delta=*/1)));
  EXPECT_EQ(ReadBlockOrFail(*disk, 17), before);
  EXPECT_TRUE(host_.recorder().Packets(1).empty());
  const auto errors = host_.recorder().DecodeErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].text.find("check"), std::string::npos) << errors[0].text;
}

TEST_F(KnockProtocol, AnswerStaysUntilTheNextPacketStarts) {
  auto disk = Open(1);
  ASSERT_TRUE(testing::IsRaidAnswer(Exchange(*disk, Query(0x10))));
  ReadBlockOrFail(*disk, 2048);  // ordinary reads in between do not disturb it
  EXPECT_TRUE(testing::IsRaidAnswer(ReadBlockOrFail(*disk, 17)));

  ReadAll(*disk, {0x43, 0x71, 0xA7, 0xDF});  // a new packet begins
  EXPECT_FALSE(testing::IsRaidAnswer(ReadBlockOrFail(*disk, 17)));
}

TEST_F(KnockProtocol, EqualNeighbouringKnocksNeedTheSeparator) {
  Packet program{5, 0x25, 0x01, 0x00, 0x40, std::vector<std::uint8_t>(128, 0x00)};
  program.payload[5] = 0x5A;
  auto disk = Open(1);

  // With separators every payload byte arrives, including the runs of equal bytes.
  const Block answer = Exchange(*disk, program);
  EXPECT_EQ(answer[48], 0x20);
  auto packets = host_.recorder().Packets(1);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].packet.direction(), 5);
  ASSERT_TRUE(packets[0].packet.has_payload);
  EXPECT_EQ(packets[0].packet.payload[5], 0x5A);
  EXPECT_EQ(packets[0].packet.payload[127], 0x00);

  // Without them the controller sees one read per run: the packet falls apart, no answer.
  host_.recorder().Clear();
  ReadAll(*disk, KnockAddresses(program));
  EXPECT_TRUE(host_.recorder().Packets(1).empty());
  EXPECT_FALSE(host_.recorder().DecodeErrors().empty());
  EXPECT_FALSE(testing::IsRaidAnswer(ReadBlockOrFail(*disk, 17)));
}

TEST_F(KnockProtocol, ARepeatedAddressWithoutSeparatorIsAReReadNotASecondByte) {
  std::vector<std::uint32_t> knocks = KnockAddresses(Query(0x11));
  const std::uint32_t header_byte = knocks[5];
  knocks.insert(knocks.begin() + 5, header_byte);  // read twice
  const std::uint32_t command_byte = knocks[11];
  knocks.insert(knocks.begin() + 11, command_byte);
  auto disk = Open(1);
  ReadAll(*disk, WithSeparators(KnockAddresses(Query(0x10))));  // unrelated earlier packet
  ReadAll(*disk, knocks);
  const Block answer = ReadBlockOrFail(*disk, 17);
  EXPECT_TRUE(testing::IsRaidAnswer(answer));
  ASSERT_EQ(host_.recorder().Packets(1).size(), 2u);
  EXPECT_EQ(host_.recorder().Packets(1)[1].packet.opcode, 0x11);
  EXPECT_TRUE(host_.recorder().DecodeErrors().empty());
}

TEST_F(KnockProtocol, AMalformedSequenceResetsTheDecoderWhichThenTakesTheNextPacket) {
  auto disk = Open(1);
  // Ordinary data, the answer block and a later preamble address are all out of place.
  for (std::uint32_t stray : {2048U, 17U, 0x71U}) {
    host_.recorder().Clear();
    ReadAll(*disk, {0x43, 0x71, 0xA7, 0xDF, 0x100, 0x104, stray});
    EXPECT_EQ(host_.recorder().DecodeErrors().size(), 1u) << stray;
    EXPECT_TRUE(testing::IsRaidAnswer(Exchange(*disk, Query(0x10)))) << stray;
  }
}

TEST_F(KnockProtocol, APacketCutShortAnywhereGivesWayToTheNextPreambleWithoutError) {
  // A client whose read failed stops knocking and starts over; the controller never saw the
  // failed read. Cut a long packet in every phase: preamble, header, command, payload, check.
  Packet program{5, 0x25, 0x01, 0x00, 0x40, std::vector<std::uint8_t>(128, 0x00)};
  program.payload[7] = 0x99;
  const std::vector<std::uint32_t> knocks = WithSeparators(KnockAddresses(program));
  std::vector<std::size_t> cuts;
  for (std::size_t cut = 1; cut < knocks.size(); ++cut) {
    if (cut < 24 || cut % 16 == 0 || cut + 6 > knocks.size()) cuts.push_back(cut);
  }
  auto disk = Open(1);
  for (std::size_t cut : cuts) {
    ReadAll(*disk, std::vector<std::uint32_t>(knocks.begin(), knocks.begin() + cut));
    const Block answer = Exchange(*disk, Query(0x11));
    ASSERT_TRUE(testing::IsRaidAnswer(answer)) << "cut after read " << cut;
    ASSERT_EQ(answer[48], 0x20) << cut;
    ASSERT_EQ(host_.recorder().Packets(1).back().packet.opcode, 0x11) << cut;
  }
  EXPECT_TRUE(host_.recorder().DecodeErrors().empty());
  EXPECT_EQ(host_.recorder().Packets(1).size(), cuts.size());
}

TEST_F(KnockProtocol, UnknownOpcodeIsAnsweredWithAFailingStatus) {
  auto disk = Open(1);
  const Block answer = Exchange(*disk, Packet{4, 0x7E, 0, 0, 0, {}});
  EXPECT_TRUE(testing::IsRaidAnswer(answer));
  EXPECT_EQ(answer[48], 0x21);
}

TEST_F(KnockProtocol, APlainDiskNeverSigns) {
  auto disk = Open(3);
  const Block answer = Exchange(*disk, Query(0x10));
  EXPECT_NE(testing::TextAt(answer, 0, 16), "__TORVANE6182A__");
  EXPECT_NE(testing::TextAt(answer, 0, 16), "__KELDRIX2109A__");
  EXPECT_TRUE(host_.recorder().Packets(3).empty());

  std::array<std::uint8_t, 36> inquiry{};
  ScsiDataIn command;
  command.cdb = {0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0};
  command.data = inquiry;
  ASSERT_TRUE(testing::Good(disk->ExecuteDataIn(command)));
  EXPECT_EQ(std::string(inquiry.begin() + 8, inquiry.begin() + 16), "ATA     ");
  EXPECT_EQ(std::string(inquiry.begin() + 16, inquiry.begin() + 31), "NORTHWIND NW500");
}

TEST_F(KnockProtocol, AnswerDelayKeepsBlockSeventeenPlainUntilTheClockPassesIt) {
  Scenario scenario;
  EnclosureSpec slow;
  slow.answer_delay_ms = 1500;
  scenario.drives[0] = slow;
  SimHost host(scenario, clock_);
  auto disk = host.OpenPhysicalDrive(0);
  EXPECT_FALSE(testing::IsRaidAnswer(Exchange(*disk, Query(0x10))));
  clock_.Advance(1499);
  EXPECT_FALSE(testing::IsRaidAnswer(ReadBlockOrFail(*disk, 17)));
  clock_.Advance(1);
  EXPECT_TRUE(testing::IsRaidAnswer(ReadBlockOrFail(*disk, 17)));
}

}  // namespace
}  // namespace raid::sim
