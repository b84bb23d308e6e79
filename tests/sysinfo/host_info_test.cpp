// SPDX-License-Identifier: GPL-2.0-or-later
#include "sysinfo/host_info.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace raid {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Holds answers back until the test lets them go, as a stuck WMI service would.
class Gate {
 public:
  void Wait() {
    std::unique_lock lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
  }
  void Open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    opened_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

class FakeSource : public HostInfoSource {
 public:
  explicit FakeSource(HostFacts facts) : facts_(std::move(facts)) {}

  // Answers wait for `gate`: the addresses alone, or every answer.
  void HoldAddresses(std::shared_ptr<Gate> gate) { addresses_gate_ = std::move(gate); }
  void HoldAll(std::shared_ptr<Gate> gate) { all_gate_ = std::move(gate); }
  void FailSystemName() { fail_name_ = true; }

  std::string BoardManufacturer() override { return Answer(facts_.board_manufacturer); }
  std::string BoardProduct() override { return Answer(facts_.board_product); }
  std::string SystemName() override {
    if (fail_name_) throw std::runtime_error("no name");
    return Answer(facts_.system_name);
  }
  std::string IpAddresses() override {
    if (addresses_gate_) addresses_gate_->Wait();
    return Answer(facts_.ip_addresses);
  }

 private:
  std::string Answer(const std::string& text) {
    if (all_gate_) all_gate_->Wait();
    return text;
  }

  HostFacts facts_;
  std::shared_ptr<Gate> addresses_gate_;
  std::shared_ptr<Gate> all_gate_;
  bool fail_name_ = false;
};

HostFacts SampleFacts() {
  return {"ASUSTeK COMPUTER INC.", "PRIME B450M-A", "OFFICE-PC", "192.168.1.20, fe80::1c2d:3e4f"};
}

// Waits for the threads left behind to let go of the source, so none outlives its test.
bool Released(const std::weak_ptr<HostInfoSource>& source) {
  const auto give_up = Clock::now() + 5s;
  while (!source.expired()) {
    if (Clock::now() > give_up) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

TEST(SystemInfoLines, FiveLinesEachBeginningANewLine) {
  EXPECT_THAT(SystemInfoLines(SampleFacts()),
              testing::ElementsAre("\n=========== [System Information] ==============",
                                   "\nMotherBoard : ASUSTeK COMPUTER INC. - PRIME B450M-A",
                                   "\nSystem Name : OFFICE-PC",
                                   "\nIP Address  : 192.168.1.20, fe80::1c2d:3e4f",
                                   "\n==============================================="));
}

TEST(SystemInfoLines, AHostThatAnswersNothingKeepsTheLabels) {
  EXPECT_THAT(SystemInfoLines(HostFacts{}),
              testing::ElementsAre("\n=========== [System Information] ==============",
                                   "\nMotherBoard :  - ", "\nSystem Name : ", "\nIP Address  : ",
                                   "\n==============================================="));
}

TEST(SystemInfoLines, JoinedForTheMessageBoxEachLineStandsOnItsOwn) {
  EXPECT_EQ(JoinSystemInfo(SystemInfoLines(SampleFacts())),
            "\n=========== [System Information] ==============\n"
            "MotherBoard : ASUSTeK COMPUTER INC. - PRIME B450M-A\n"
            "System Name : OFFICE-PC\n"
            "IP Address  : 192.168.1.20, fe80::1c2d:3e4f\n"
            "===============================================");
}

TEST(HostQueryThreads, EachAnswerLandsInItsOwnPlace) {
  const auto lines = BuildSystemInfo(std::make_shared<FakeSource>(SampleFacts()), 3s);
  EXPECT_EQ(lines[1], "\nMotherBoard : ASUSTeK COMPUTER INC. - PRIME B450M-A");
  EXPECT_EQ(lines[2], "\nSystem Name : OFFICE-PC");
  EXPECT_EQ(lines[3], "\nIP Address  : 192.168.1.20, fe80::1c2d:3e4f");
}

TEST(HostQueryThreads, AStuckSourceIsEmptyAfterTheLimitAndTheOthersStillAnswer) {
  auto gate = std::make_shared<Gate>();
  auto source = std::make_shared<FakeSource>(SampleFacts());
  source->HoldAddresses(gate);
  const std::weak_ptr<HostInfoSource> watched = source;

  const auto start = Clock::now();
  const HostFacts facts = QueryHostFacts(std::move(source), 300ms);
  const auto waited = Clock::now() - start;

  EXPECT_GE(waited, 250ms);
  EXPECT_LT(waited, 2s);
  EXPECT_EQ(facts.ip_addresses, "");
  EXPECT_EQ(facts.board_manufacturer, "ASUSTeK COMPUTER INC.");
  EXPECT_EQ(facts.board_product, "PRIME B450M-A");
  EXPECT_EQ(facts.system_name, "OFFICE-PC");
  gate->Open();
  EXPECT_TRUE(Released(watched));
}

TEST(HostQueryThreads, EverySourceStuckCostsTheLimitOnceNotFourTimes) {
  auto gate = std::make_shared<Gate>();
  auto source = std::make_shared<FakeSource>(SampleFacts());
  source->HoldAll(gate);
  const std::weak_ptr<HostInfoSource> watched = source;

  const auto start = Clock::now();
  const auto lines = BuildSystemInfo(std::move(source), 400ms);
  const auto waited = Clock::now() - start;

  EXPECT_LT(waited, 1200ms);
  EXPECT_EQ(lines[1], "\nMotherBoard :  - ");
  EXPECT_EQ(lines[2], "\nSystem Name : ");
  EXPECT_EQ(lines[3], "\nIP Address  : ");
  gate->Open();
  EXPECT_TRUE(Released(watched));
}

TEST(HostQueryThreads, AThreadLeftBehindKeepsTheSourceUntilItsLateAnswerIsDone) {
  auto gate = std::make_shared<Gate>();
  auto source = std::make_shared<FakeSource>(SampleFacts());
  source->HoldAddresses(gate);
  const std::weak_ptr<HostInfoSource> watched = source;

  { const auto lines = BuildSystemInfo(std::move(source), 50ms); }
  // The caller has its lines and holds nothing any more; the stuck thread still needs the source.
  EXPECT_FALSE(watched.expired());
  gate->Open();  // the late answer goes nowhere, and touches only what the thread owns
  EXPECT_TRUE(Released(watched));
}

TEST(HostQueryThreads, ASourceThatFailsDescribesNothingAndTheRestGoesOn) {
  auto source = std::make_shared<FakeSource>(SampleFacts());
  source->FailSystemName();
  const HostFacts facts = QueryHostFacts(std::move(source), 3s);
  EXPECT_EQ(facts.system_name, "");
  EXPECT_EQ(facts.board_product, "PRIME B450M-A");
  EXPECT_EQ(facts.ip_addresses, "192.168.1.20, fe80::1c2d:3e4f");
}

}  // namespace
}  // namespace raid
