// SPDX-License-Identifier: GPL-2.0-or-later
// Seeded fault schedules during an upgrade: failing reads, flash blocks that fail k times, a flash
// that claims to program and writes nothing, bridge resets, an enclosure that vanishes. Whatever
// happens, success is reported only when the flash afterwards holds exactly the image, a flash
// that holds it is reported as a failure only when it could not be read back, and every path
// ends maintenance.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>

#include "upgrade_test_fixture.h"

namespace raid {
namespace {

constexpr unsigned kDrive = 1;
constexpr int kSchedules = 500;

struct Schedule {
  std::uint32_t image_size = 0;
  // The faults start with this step: 0 erase, 1 program, 2 verify.
  int first_faulty_step = 0;
  sim::FaultSpec faults;
  std::string description;
};

const char* const kStepCaptions[] = {"Process 1 / 3", "Process 2 / 3", "Process 3 / 3"};

Schedule MakeSchedule(std::uint64_t seed) {
  std::mt19937_64 random(seed);
  const auto chance = [&](double p) { return std::bernoulli_distribution(p)(random); };
  const auto between = [&](std::uint32_t low, std::uint32_t high) {
    return std::uniform_int_distribution<std::uint32_t>(low, high)(random);
  };
  Schedule schedule;
  std::ostringstream what;
  // 4-16 KiB, a third of them ending in a partial block.
  schedule.image_size = between(32, 128) * 128 - (chance(0.33) ? between(1, 127) : 0);
  schedule.first_faulty_step = static_cast<int>(between(0, 2));
  what << "image " << schedule.image_size << ", faults from step " << schedule.first_faulty_step;
  sim::FaultSpec& faults = schedule.faults;
  faults.seed = seed;
  if (chance(0.5)) {
    faults.read_failure_rate = between(1, 40) / 10000.0;
    what << ", read failure rate " << faults.read_failure_rate;
  }
  for (std::uint32_t i = between(0, 3); i > 0; --i) {
    // Anywhere in what is erased (twice the image's span at these sizes); the erase only asks
    // for the first block of each sector.
    const std::uint32_t address = chance(0.3) ? between(0, 11) * 4096 : between(0, 2 * 24576 - 1);
    const std::uint32_t times = between(1, 12);
    faults.flash_failures.push_back({address, times});
    what << ", flash block " << address / 128 << " fails " << times << "x";
  }
  if (chance(0.1)) {
    faults.lying_flash_writes = true;
    what << ", programs write nothing";
  }
  if (chance(0.1)) {
    faults.vanish_after_reads = between(0, 12000);
    what << ", vanishes after " << *faults.vanish_after_reads << " reads";
  }
  if (chance(0.15)) {
    const std::uint32_t lba = chance(0.5) ? 17 : 0x43;
    faults.unit_attention_at.push_back({lba, between(1, 2)});
    what << ", bridge reset at block " << lba;
  }
  schedule.description = what.str();
  return schedule;
}

const char* StepName(UpgradeStep step) {
  switch (step) {
    case UpgradeStep::kNone:
      return "none";
    case UpgradeStep::kErase:
      return "erase";
    case UpgradeStep::kProgram:
      return "program";
    case UpgradeStep::kVerifyRead:
      return "verify read";
    case UpgradeStep::kVerifyCompare:
      return "verify compare";
  }
  return "?";
}

class UpgradeFaultScheduleTest : public testing::UpgradeTest {};

TEST_F(UpgradeFaultScheduleTest, SuccessIsReportedIffTheFlashHoldsTheImageAndMaintenanceEnds) {
  std::map<std::string, int> outcomes;
  for (int i = 0; i < kSchedules && !HasFailure(); ++i) {
    const Schedule schedule = MakeSchedule(0x6182'0000 + static_cast<std::uint64_t>(i));
    SCOPED_TRACE("schedule " + std::to_string(i) + ": " + schedule.description);
    scenario_.drives[kDrive] = sim::DriveSpec(sim::EnclosureSpec{});
    DiscoverHost();
    ui_ = {};
    views_ = {};
    keep_awake_ = {};
    const FirmwareImage image = NewImage(kDrive, schedule.image_size);
    views_.on_caption = [&](const std::string& caption) {
      if (caption == kStepCaptions[schedule.first_faulty_step]) {
        host_->enclosure(kDrive)->SetFaults(schedule.faults);
      }
    };

    const UpgradeResult result = Upgrade(image, 0);

    const bool flash_holds_image = Flash(kDrive, image.size) == image.bytes;
    ASSERT_NE(result.outcome, UpgradeOutcome::kIgnored);
    ASSERT_NE(result.outcome, UpgradeOutcome::kRefused);
    if (result.Succeeded()) {
      ASSERT_TRUE(flash_holds_image);
      ASSERT_EQ(ui_.messages.back().caption, "Firmware Upgrade Message");
    } else {
      // A flash that holds the image fails only when it could not be read back to tell.
      if (flash_holds_image) {
        ASSERT_EQ(result.failed_step, UpgradeStep::kVerifyRead);
      }
      ASSERT_EQ(ui_.messages.back(), (MessageBoxRequest{"Message", result.panel_text}));
      ASSERT_THAT(result.panel_text, ::testing::Not(::testing::AnyOf(
                                         "SPI Erase OK", "SPI Program OK", "SPI Verify OK")));
    }
    ExpectMaintenanceEnded();
    ASSERT_THAT(recorder().ViolationTexts(), ::testing::IsEmpty());
    ++outcomes[result.Succeeded() ? "success" : StepName(result.failed_step)];
  }
  // The schedules must reach every way out, or the property above says little.
  EXPECT_GE(outcomes["success"], kSchedules / 5);
  for (const char* step : {"erase", "program", "verify read", "verify compare"})
    EXPECT_GE(outcomes[step], 5) << step;
}

}  // namespace
}  // namespace raid
