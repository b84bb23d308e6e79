// SPDX-License-Identifier: GPL-2.0-or-later
// What the controller and the bridge refuse: packets whose header does not fit their command,
// and CDBs other than the plain one-block READ(10) and the standard INQUIRY.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim_host.h"
#include "wire_client.h"

namespace raid::sim {
namespace {

using testing::Block;
using testing::Exchange;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::Packet;

class CommandChecks : public ::testing::Test {
 protected:
  CommandChecks() : host_(MakeScenario(), clock_), disk_(host_.OpenPhysicalDrive(0)) {}

  static Scenario MakeScenario() {
    Scenario scenario;
    scenario.drives[0] = EnclosureSpec{};
    return scenario;
  }
  std::vector<std::string> Violations() { return host_.recorder().ViolationTexts(); }

  VirtualClock clock_;
  SimHost host_;
  std::unique_ptr<Disk> disk_;
};

// A well-formed packet of every known command.
std::vector<Packet> WellFormedPackets() {
  std::vector<std::uint8_t> frame(128, 0);
  const std::vector<std::uint8_t> head = {0x27, 0x80, 0xEC, 0x00, 0x01, 0x4F, 0xC2,
                                          0xE0, 0,    0,    0,    0,    0x01};
  std::copy(head.begin(), head.end(), frame.begin());
  return {
      testing::Query(0x10),
      testing::Query(0x11),
      testing::Query(0x15),
      testing::Query(0x17),
      Packet{4, 0x20, 1, 0x00, 0x02, {}},
      Packet{5, 0x23, 1, 0x04, 0x00, {}},
      Packet{5, 0x25, 1, 0x04, 0x00, std::vector<std::uint8_t>(128, 0x5A)},
      Packet{5, 0xB1, 0xEC, 0, 0, frame},
      Packet{4, 0xB2, 0xEC, 0, 1, {}},
  };
}

TEST_F(CommandChecks, EveryCommandTakesItsOwnDirectionAndPayloadFlagOnly) {
  for (const Packet& good : WellFormedPackets()) {
    SCOPED_TRACE(::testing::Message() << "opcode 0x" << std::hex << int{good.opcode});
    host_.recorder().Clear();
    EXPECT_TRUE(testing::IsRaidAnswer(Exchange(*disk_, good)));
    EXPECT_THAT(Violations(), IsEmpty());

    Packet turned = good;
    turned.direction = good.direction == 4 ? 5 : 4;
    EXPECT_FALSE(testing::IsRaidAnswer(Exchange(*disk_, turned)));
    ASSERT_EQ(Violations().size(), 1u);
    EXPECT_THAT(Violations()[0], HasSubstr("direction " + std::to_string(turned.direction)));

    Packet flagged = good;
    flagged.payload =
        good.payload.empty() ? std::vector<std::uint8_t>(128, 0x11) : std::vector<std::uint8_t>{};
    EXPECT_FALSE(testing::IsRaidAnswer(Exchange(*disk_, flagged)));
    ASSERT_EQ(Violations().size(), 2u);
    EXPECT_THAT(Violations()[1],
                HasSubstr(flagged.payload.empty() ? "payload flag 0" : "payload flag 1"));
    // The refused packets were heard; only the well-formed one was answered.
    EXPECT_EQ(host_.recorder().Packets(0).size(), 3u);
  }
}

TEST_F(CommandChecks, AnUnknownOpcodeIsAnsweredWhateverItsHeader) {
  for (const Packet& packet : {Packet{4, 0x7E, 0, 0, 0, {}}, Packet{5, 0x7E, 0, 0, 0, {}},
                               Packet{9, 0x7E, 0, 0, 0, std::vector<std::uint8_t>(128, 1)}}) {
    const Block answer = Exchange(*disk_, packet);
    EXPECT_TRUE(testing::IsRaidAnswer(answer));
    EXPECT_EQ(answer[48], 0x21);
  }
  EXPECT_THAT(Violations(), IsEmpty());
}

TEST_F(CommandChecks, ReadTenMustLeaveItsFlagsGroupHighLengthAndControlZero) {
  Block block{};
  ASSERT_TRUE(testing::Good(disk_->ExecuteDataIn(testing::Read10Cdb(5, 1, block))));
  EXPECT_THAT(Violations(), IsEmpty());

  for (std::size_t byte : {1U, 6U, 9U}) {
    host_.recorder().Clear();
    ScsiDataIn command = testing::Read10Cdb(5, 1, block);
    command.cdb[byte] = 0x08;
    disk_->ExecuteDataIn(command);
    ASSERT_EQ(Violations().size(), 1u) << byte;
    EXPECT_THAT(Violations()[0], HasSubstr("byte " + std::to_string(byte) + " is 0x08"));
  }

  // A set high length byte asks for more than one block as well.
  host_.recorder().Clear();
  std::vector<std::uint8_t> big(257 * 512);
  ScsiDataIn long_read = testing::Read10Cdb(5, 1, big);
  long_read.cdb[7] = 0x01;
  disk_->ExecuteDataIn(long_read);
  EXPECT_THAT(Violations(), ::testing::Contains(HasSubstr("byte 7 is 0x01")));

  host_.recorder().Clear();
  ScsiDataIn twelve = testing::Read10Cdb(5, 1, block);
  twelve.cdb_length = 12;
  disk_->ExecuteDataIn(twelve);
  EXPECT_THAT(Violations(), ::testing::ElementsAre(HasSubstr("CDB length of 12")));
}

TEST_F(CommandChecks, InquiryMustBeTheStandardOneWithATenByteLength) {
  std::array<std::uint8_t, 512> data{};
  ASSERT_TRUE(testing::Good(disk_->ExecuteDataIn(testing::InquiryCdb(data))));
  EXPECT_THAT(Violations(), IsEmpty());

  struct Broken {
    std::size_t byte;
    std::uint8_t value;
  };
  for (const Broken broken :
       {Broken{2, 0x01}, Broken{3, 0x01}, Broken{4, 0x60}, Broken{5, 0x80}, Broken{9, 0x04}}) {
    host_.recorder().Clear();
    ScsiDataIn command = testing::InquiryCdb(data);
    command.cdb[broken.byte] = broken.value;
    disk_->ExecuteDataIn(command);
    EXPECT_THAT(Violations(), ::testing::ElementsAre(HasSubstr("not the standard")))
        << "byte " << broken.byte;
  }

  host_.recorder().Clear();
  ScsiDataIn six = testing::InquiryCdb(data);
  six.cdb_length = 6;
  disk_->ExecuteDataIn(six);
  EXPECT_THAT(Violations(), ::testing::ElementsAre(HasSubstr("CDB length of 6")));
}

}  // namespace
}  // namespace raid::sim
