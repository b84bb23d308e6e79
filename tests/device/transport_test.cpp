// SPDX-License-Identifier: GPL-2.0-or-later
// The controller protocol as the simulated controller on the other side of the wire sees it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <thread>

#include "device/controller_commands.h"
#include "device/exchange_gate.h"
#include "device/forwarding_disk_system.h"
#include "device/transport.h"
#include "sim_host.h"
#include "support/simulated_host_test.h"

namespace raid {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class TransportTest : public testing::OneEnclosureTest {
 protected:
  std::size_t ResponsePolls() const {
    const std::vector<std::uint32_t> lbas = host_->recorder().ReadLbas(kDrive);
    return static_cast<std::size_t>(std::count(lbas.begin(), lbas.end(), kResponseBlock));
  }
};

TEST_F(TransportTest, AliveQueryIsTheKnockListThenOneSeparatedPoll) {
  BuildEnclosure();
  EXPECT_EQ(commands_->QueryController(kQueryControllerAlive, out_), kResultDone);
  EXPECT_THAT(recorder().ReadLbas(kDrive),
              ElementsAre(0x43, 0x71, 0xA7, 0xDF, 0x100, 0x104, 0x1EF, 0x1FF, 0x210, 0x2CF, 0x2DF,
                          0x2EF, 0x41B, 0x4DF, 0x438, 0x42E, kSeparatorBlock, kResponseBlock));
  const std::vector<sim::ReceivedPacket> packets = recorder().Packets(kDrive);
  ASSERT_EQ(packets.size(), 1U);
  EXPECT_EQ(packets[0].packet.opcode, 0x10);
  EXPECT_EQ(packets[0].packet.direction(), kDirectionIn);
  EXPECT_THAT(recorder().DecodeErrors(), IsEmpty());
}

TEST_F(TransportTest, EqualNeighbouringKnockAddressesGetExactlyOneSeparator) {
  BuildEnclosure();
  std::array<std::uint8_t, kFlashBlockSize> data{};
  data.fill(0x5A);  // 128 equal payload bytes: 127 equal neighbours
  data[0] = 0x01;
  std::unique_ptr<Disk> disk = host_->OpenPhysicalDrive(kDrive);
  // Beyond the firmware image the flash is erased, so the program takes the data as it is.
  ASSERT_EQ(commands_->WriteFlashBlock(*disk, 0x20000, data), kResultDone);

  const std::vector<std::uint32_t> lbas = recorder().ReadLbas(kDrive);
  ASSERT_FALSE(lbas.empty());
  EXPECT_EQ(lbas.front(), 0x43U);
  std::size_t separators_between_equals = 0;
  for (std::size_t i = 1; i + 1 < lbas.size(); ++i) {
    if (lbas[i] == kSeparatorBlock && lbas[i - 1] == lbas[i + 1]) ++separators_between_equals;
    EXPECT_FALSE(lbas[i] == lbas[i - 1]) << "address " << lbas[i] << " read twice in a row";
  }
  EXPECT_EQ(separators_between_equals, 126U);
  // The controller decoded the packet: the separators kept the repeated bytes apart.
  const std::vector<sim::ReceivedPacket> packets = recorder().Packets(kDrive);
  ASSERT_EQ(packets.size(), 1U);
  EXPECT_EQ(packets[0].packet.opcode, 0x25);
  EXPECT_EQ(packets[0].packet.payload[100], 0x5A);
  EXPECT_EQ(enclosure().FlashBytes(0x20000, 2), (std::vector<std::uint8_t>{0x01, 0x5A}));
}

TEST_F(TransportTest, TryLimitPollsOneTimeMoreThanTheLimit) {
  sim::EnclosureSpec config;
  config.faults.never_answer = true;
  BuildEnclosure(config);
  EXPECT_EQ(commands_->DriveControlCommand(0xEC, 0, 1, out_), kResultNoAnswer);
  EXPECT_EQ(ResponsePolls(), 4U);
  EXPECT_EQ(transport_.Status(), kResultNoAnswer);
}

TEST_F(TransportTest, MillisecondLimitsCountWholeSecondsElapsed) {
  sim::EnclosureSpec config;
  config.faults.never_answer = true;
  BuildEnclosure(config);

  // 3000 ms: polling goes on until more than three whole seconds have passed, every 10 ms.
  const std::uint64_t start = clock_.NowMs();
  EXPECT_EQ(commands_->QueryController(kQueryArrayStatus, out_), kResultNoAnswer);
  const std::uint64_t took = clock_.NowMs() - start;
  EXPECT_GE(took, 4000U);
  EXPECT_LT(took, 4020U);
  EXPECT_EQ(ResponsePolls(), 400U);

  // 1000 ms (the alive query): two whole seconds.
  recorder().Clear();
  clock_.Advance(500);  // a start in the middle of a second still waits for whole seconds
  const std::uint64_t second_start = clock_.NowMs();
  EXPECT_EQ(commands_->QueryController(kQueryControllerAlive, out_), kResultNoAnswer);
  EXPECT_EQ(clock_.NowMs() / 1000 - second_start / 1000, 2U);
  EXPECT_EQ(ResponsePolls(), 150U);
}

TEST_F(TransportTest, LateAnswerIsAwaited) {
  sim::EnclosureSpec config;
  config.answer_delay_ms = 55;
  BuildEnclosure(config);
  EXPECT_EQ(commands_->QueryController(kQueryArrayStatus, out_), kResultDone);
  EXPECT_EQ(ResponsePolls(), 7U);  // at 0, 10, ... 60 ms
}

TEST_F(TransportTest, WrongSecondSignatureIsNoAnswer) {
  sim::EnclosureSpec config;
  config.faults.wrong_second_signature = true;
  BuildEnclosure(config);
  EXPECT_EQ(commands_->DriveControlCommand(0xEC, 0, 1, out_), kResultNoAnswer);
  // The caller still holds the last sector read: signed at the front, wrong at the back.
  EXPECT_EQ(std::string(out_.begin(), out_.begin() + 16), "__TORVANE6182A__");
}

TEST_F(TransportTest, StatusBytesMapToResults) {
  BuildEnclosure();
  enclosure().ForceStatus(0x21, 1);
  EXPECT_EQ(commands_->QueryController(kQueryArrayStatus, out_), kResultUnknownStatus);
  enclosure().ForceStatus(0x20, 1);
  EXPECT_EQ(commands_->QueryController(kQueryArrayStatus, out_), kResultDone);
  enclosure().ForceStatus(0x00, 1);
  EXPECT_EQ(commands_->QueryController(kQueryArrayStatus, out_), kResultDone);
  enclosure().ForceStatus(0xE0, 1);
  EXPECT_EQ(commands_->QueryController(kQueryArrayStatus, out_), 0xE0);
}

TEST_F(TransportTest, PortMultiplierSignatureSetsTheControllerKind) {
  BuildEnclosure(sim::EnclosureSpec::PortMultiplier());
  ControllerKind kind = ControllerKind::kRaidBridge;
  EXPECT_EQ(commands_->QueryController(kQueryControllerAlive, out_, &kind), kResultDone);
  EXPECT_EQ(kind, ControllerKind::kPortMultiplier);
}

TEST_F(TransportTest, QueryCopiesTheSectorOnlyWhenTheResponseWasPolled) {
  BuildEnclosure();
  // Knock sequence fails: nothing is copied.
  out_.fill(0xAB);
  enclosure().SetFaults([] {
    sim::FaultSpec faults;
    faults.fail_next_reads = 1;
    return faults;
  }());
  EXPECT_EQ(commands_->QueryController(kQueryArrayStatus, out_), kResultKnockFailed);
  EXPECT_TRUE(std::all_of(out_.begin(), out_.end(), [](std::uint8_t b) { return b == 0xAB; }));

  // No device to address: nothing is opened, nothing copied.
  const std::optional<DiskRef> identified = target_;
  target_.reset();
  recorder().Clear();
  EXPECT_EQ(commands_->QueryController(kQueryArrayStatus, out_), kResultOpenFailed);
  EXPECT_THAT(recorder().Calls(), IsEmpty());
  EXPECT_EQ(out_[0], 0xAB);

  // A failing status still hands over the signed sector.
  target_ = identified;
  enclosure().ForceStatus(0xD0, 1);
  EXPECT_EQ(commands_->QueryController(kQueryArrayStatus, out_), 0xD0);
  EXPECT_EQ(out_[48], 0xD0);
}

TEST_F(TransportTest, FlashBlockNumberGoesHighByteFirst) {
  BuildEnclosure();
  std::unique_ptr<Disk> disk = host_->OpenPhysicalDrive(kDrive);
  std::array<std::uint8_t, kFlashBlockSize> block{};
  ASSERT_EQ(commands_->ReadFlashBlock(*disk, 0x1FF80, block), kResultDone);
  const std::vector<sim::ReceivedPacket> packets = recorder().Packets(kDrive);
  ASSERT_EQ(packets.size(), 1U);
  const sim::DecodedPacket packet = packets[0].packet;
  EXPECT_EQ(packet.opcode, 0x20);
  EXPECT_EQ(packet.p1, 0x01);
  EXPECT_EQ(packet.p2, 0x03);
  EXPECT_EQ(packet.p3, 0xFF);
  EXPECT_EQ(std::vector<std::uint8_t>(block.begin(), block.end()),
            enclosure().FlashBytes(0x1FF80, kFlashBlockSize));
}

TEST_F(TransportTest, DriveAtaCommandSendsTheRegisterFrame) {
  BuildEnclosure();
  EXPECT_EQ(commands_->DriveAtaCommand(0xD0, 1, out_), kResultDone);
  const std::vector<sim::ReceivedPacket> packets = recorder().Packets(kDrive);
  ASSERT_EQ(packets.size(), 1U);
  const sim::DecodedPacket packet = packets[0].packet;
  EXPECT_EQ(packet.opcode, 0xB1);
  EXPECT_EQ(packet.direction(), kDirectionOut);
  EXPECT_THAT(std::vector<std::uint8_t>(packet.payload.begin(), packet.payload.begin() + 20),
              ElementsAre(0x27, 0x80, 0xB0, 0xD0, 0x01, 0x4F, 0xC2, 0xE0, 0, 0, 0, 0, 0x01, 0, 0, 0,
                          0, 0, 0, 0));
  EXPECT_EQ(out_[76], 0xB1);
  EXPECT_EQ(out_[77], 0xD0);
}

// The host's disks, each kept by another process's exchange for longer than anyone waits.
class HeldElsewhere : public ForwardingDiskSystem {
 public:
  using ForwardingDiskSystem::ForwardingDiskSystem;
  std::unique_ptr<Disk> OpenPhysicalDrive(unsigned number, OpenFailure* why) override {
    std::unique_ptr<Disk> disk = inner().OpenPhysicalDrive(number, why);
    return disk ? std::make_unique<Refusing>(std::move(disk)) : nullptr;
  }

 private:
  class Refusing : public Disk {
   public:
    explicit Refusing(std::unique_ptr<Disk> inner) : inner_(std::move(inner)) {}
    ScsiOutcome ExecuteDataIn(const ScsiDataIn& command) override {
      return inner_->ExecuteDataIn(command);
    }
    std::optional<DiskExtent> VolumeDiskExtent() override { return inner_->VolumeDiskExtent(); }
    DiskIdentity Identity() override { return inner_->Identity(); }
    bool HoldAgainstOtherProcesses(std::uint32_t) override { return false; }

   private:
    std::unique_ptr<Disk> inner_;
  };
};

// While another process exchanges with the enclosure, nothing of ours reaches it: the exchange
// fails as for a drive that cannot be opened.
TEST_F(TransportTest, NothingIsSentToADiskAnotherProcessKeeps) {
  BuildEnclosure();
  HeldElsewhere held(*host_);
  ControllerCommands commands(held, transport_, gate_, [this] { return target_; });
  EXPECT_EQ(commands.QueryController(kQueryArrayStatus, out_), kResultOpenFailed);
  EXPECT_EQ(commands.DriveAtaCommand(0xD0, 1, out_), kResultOpenFailed);
  EXPECT_THAT(recorder().ReadLbas(kDrive), IsEmpty());
}

TEST_F(TransportTest, ExchangeStartedFromInsideAnExchangeIsRefused) {
  BuildEnclosure();
  std::optional<ResultCode> nested;
  clock_.SetMessageHook([&] {
    if (!nested) {
      nested = kResultDone;  // guard against recursion before the call returns
      nested = commands_->QueryController(kQueryArrayStatus, out_);
    }
  });
  EXPECT_EQ(commands_->QueryController(kQueryControllerAlive, out_), kResultDone);
  EXPECT_EQ(nested, kResultOpenFailed);
  EXPECT_THAT(recorder().ViolationTexts(), IsEmpty());
}

TEST_F(TransportTest, ExchangesFromTwoThreadsNeverInterleave) {
  BuildEnclosure();
  auto worker = [this] {
    std::array<std::uint8_t, 512> out{};
    for (int i = 0; i < 20; ++i)
      commands_->QueryController(kQueryArrayStatus, out);
  };
  std::thread first(worker);
  std::thread second(worker);
  first.join();
  second.join();
  EXPECT_THAT(recorder().ViolationTexts(), IsEmpty());
  EXPECT_EQ(recorder().Packets(kDrive).size(), 40U);
}

}  // namespace
}  // namespace raid
