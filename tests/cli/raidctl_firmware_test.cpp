// SPDX-License-Identifier: GPL-2.0-or-later
// `raidctl firmware check` and `raidctl firmware upgrade` run as processes against simulated
// hosts, as a user or a script runs them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "spi_flash.h"
#include "support/build_paths.h"
#include "support/raidctl_run.h"
#include "support/spawned_process.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

std::string Scenario(const std::string& name) {
  return std::string(RAIDGUI_SCENARIO_DIR) + "/" + name;
}

// Firmware for the scenarios' default RAID bridge (type byte 3, date code 16052013), or with
// another product code.
std::vector<std::uint8_t> Firmware(std::uint8_t p0 = 0x27, std::uint8_t p1 = 0x70) {
  const std::array<std::uint8_t, 6> revision = {0x16, 0x05, 0x20, 0x13, p0, p1};
  return raid::sim::BuildFirmwareImage({0x03, revision, 20000});
}

class RaidctlFirmwareTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    const fs::path path = folder_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }
  std::string WriteText(const std::string& name, const std::string& text) const {
    const fs::path path = folder_ / name;
    std::ofstream(path) << text;
    return path.string();
  }

  // raidctl with `arguments`, standard input from /dev/null; stdout in `out`, stderr in `err`.
  int Raidctl(const std::string& arguments) {
    const raid::testing::CliRun run =
        raid::testing::RunRaidctl("", arguments + " </dev/null", folder_ / "stderr.txt");
    out = run.out;
    err = run.err;
    return run.exit_code;
  }

  raid::testing::TempFolder folder_{"raidctl-firmware-test-"};
  std::string out;
  std::string err;
};

TEST_F(RaidctlFirmwareTest, CheckOfTheFileAloneShowsTheLoadsTextsAndRefusesABadFile) {
  const std::string good = Write("good.bin", Firmware(0x31, 0x00));
  EXPECT_EQ(Raidctl("firmware check " + good), 0);
  EXPECT_THAT(out, HasSubstr("File:" + good + "\nChksum:"));

  std::vector<std::uint8_t> bytes = Firmware();
  bytes[128] = 'X';
  const std::string bad = Write("bad.bin", bytes);
  EXPECT_EQ(Raidctl("firmware check " + bad), 1);
  EXPECT_THAT(out, HasSubstr("Error: Threr are METADATA_SINGATURE error in the firmware file.\n"
                             "Please check it."));
}

TEST_F(RaidctlFirmwareTest, CheckForADeviceComparesTheProductWithThatEnclosure) {
  const std::string scenario = " --simulate " + Scenario("two_enclosures_three_disks.json");
  EXPECT_EQ(Raidctl("firmware check " + Write("ours.bin", Firmware()) + " --device 1" + scenario),
            0);
  EXPECT_THAT(out, HasSubstr("F:16052013\nC:16052013\nVerdict: suits this enclosure\n"));

  const std::string other = Write("other.bin", Firmware(0x31, 0x00));
  EXPECT_EQ(Raidctl("firmware check " + other + " --device 1" + scenario), 1);
  EXPECT_THAT(out, HasSubstr("Error: The firmware is not for this product.\nPlease check it."
                             "\nVerdict: refused\n"));
  // Device2 is a port-multiplier bridge, which reports no product code to compare.
  EXPECT_EQ(Raidctl("firmware check " + other + " --device 2" + scenario), 0);
  EXPECT_EQ(Raidctl("firmware check " + other + " --device 3" + scenario), 2);  // no such device
}

TEST_F(RaidctlFirmwareTest, UpgradeWithYesExitsWithTheUpgradesOutcome) {
  const std::string image = Write("fw.bin", Firmware());
  EXPECT_EQ(Raidctl("firmware upgrade " + image + " --device 1 --yes --simulate " +
                    Scenario("two_enclosures_three_disks.json")),
            0);
  EXPECT_THAT(err, HasSubstr("Process 3 / 3\nSPI Verify OK\n"));
  EXPECT_THAT(err, HasSubstr("Firmware Upgrade Message: Firmware Upgrade 3/3 completed!"));

  const std::string lying = WriteText("lying.json", R"({"drives": [
      {"number": 1, "type": "enclosure", "faults": {"lying_flash_writes": true}}]})");
  EXPECT_EQ(Raidctl("firmware upgrade " + image + " --device 1 --yes --simulate " + lying), 1);
  EXPECT_THAT(err, HasSubstr("Message: SPI Verify fail !!!"));
  EXPECT_THAT(err, Not(HasSubstr("completed")));
}

// Any signal that would end or stop raidctl after the erase (Ctrl-C, Ctrl-\, Ctrl-Z, SIGTERM, a
// dropped terminal's SIGHUP, SIGUSR1, SIGALRM, a real-time signal ...) would leave the controller
// without firmware: they are held, said once, and the upgrade finishes and reports.
TEST_F(RaidctlFirmwareTest, SignalsDuringTheUpgradeAreHeldUntilItHasFinished) {
  const std::string image = Write("fw.bin", Firmware());
  // At the wall clock's pace, the answer polls' pauses make it last seconds.
  raid::testing::SpawnedProcess upgrade(
      {RAIDCTL_PATH, "firmware", "upgrade", image, "--device", "1", "--yes", "--simulate",
       Scenario("two_enclosures_three_disks.json"), "--realtime"},
      folder_ / "out.txt", folder_ / "err.txt");
  ASSERT_TRUE(upgrade.started());
  const auto said = [&] {
    std::ostringstream text;
    text << std::ifstream(folder_ / "err.txt").rdbuf();
    return text.str();
  };
  for (int i = 0; i < 600 && said().find("SPI Erase OK") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_THAT(said(), HasSubstr("SPI Erase OK"));
  for (const int signal_number :
       {SIGINT,  SIGTERM, SIGHUP,  SIGPIPE,   SIGQUIT,  SIGUSR1,      SIGUSR2,
        SIGALRM, SIGTSTP, SIGTTOU, SIGTTIN,   SIGXCPU,  SIGXFSZ,      SIGVTALRM,
        SIGPROF, SIGIO,   SIGPWR,  SIGSTKFLT, SIGRTMIN, SIGRTMIN + 1, SIGRTMAX}) {
    ASSERT_TRUE(upgrade.Signal(signal_number));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(upgrade.Wait(std::chrono::seconds(120)), 0) << said();
  const std::string text = said();
  EXPECT_THAT(text, HasSubstr("Firmware Upgrade 3/3 completed!"));
  const std::string held = "the firmware upgrade is in progress and will not stop";
  ASSERT_NE(text.find(held), std::string::npos);
  EXPECT_EQ(text.find(held), text.rfind(held)) << "said more than once";
}

TEST_F(RaidctlFirmwareTest, UpgradeWithoutYesRefusesWhenNobodyCanAnswer) {
  const std::string image = Write("fw.bin", Firmware());
  EXPECT_EQ(Raidctl("firmware upgrade " + image + " --device 1 --simulate " +
                    Scenario("two_enclosures_three_disks.json")),
            2);
  EXPECT_THAT(err, HasSubstr("give --yes"));
  EXPECT_THAT(err, Not(HasSubstr("SPI")));
}

}  // namespace
