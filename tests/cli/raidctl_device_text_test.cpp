// SPDX-License-Identifier: GPL-2.0-or-later
// Bytes from a device are data: raidctl run as a process on a simulated host whose enclosures and
// drives report texts with control bytes and bytes that are not UTF-8. Nothing of them may act on
// the log or the terminal, and no JSON output may end raidctl.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/raidctl_run.h"
#include "support/temp_folder.h"
#include "support/text_lines.h"

namespace {

namespace fs = std::filesystem;
using ::testing::Each;
using ::testing::HasSubstr;
using ::testing::IsSupersetOf;
using ::testing::Not;
using ::testing::ResultOf;
using ::testing::StartsWith;
using json = nlohmann::json;

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

std::string Hex(std::string_view bytes) {
  std::string hex;
  for (const char c : bytes)
    hex += {"0123456789ABCDEF"[(c >> 4) & 0x0F], "0123456789ABCDEF"[c & 0x0F], ' '};
  return hex;
}

// The bytes below 0x20 other than the line end, and DEL: what a terminal or a log reader would
// take as control.
std::size_t ControlBytes(const std::string& text) {
  return std::count_if(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && c != '\n') || byte == 0x7F;
  });
}

class RaidctlDeviceTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A RAID bridge whose model clears the screen and rings, whose firmware revision holds a
    // byte that is no UTF-8 (no control byte, so the text form is kept), and whose drives' texts
    // carry a forged log line, an escape and Latin-1; a port-multiplier bridge whose INQUIRY
    // product sets a terminal's title.
    const json scenario = {
        {"drives",
         {{{"number", 1},
           {"type", "enclosure"},
           {"model_text_hex", Hex("TORVANE \x1B[2J\a")},
           {"revision", {"0x30", "0x31", "0x32", "0x30", "0xE9", "0x36", "0x31", "0x2E"}},
           {"members",
            {{{"model_hex", Hex("NW\r\nD9 Device was removed.")}, {"serial_hex", Hex("SN\x1B[1m")}},
             {{"model_hex", Hex("Caf\xE9 \xFF drive")}}}}},
          {{"number", 2},
           {"type", "enclosure"},
           {"kind", "port_multiplier"},
           {"product_hex", Hex("PM\x1B]0;x\a")}}}}};
    scenario_ = folder_ / "hostile.json";
    std::ofstream(scenario_) << scenario.dump();
  }

  raid::testing::ShellRun Raidctl(const std::string& arguments) const {
    return raid::testing::RunRaidctl("RAIDGUI_LOG_DIR=" + (folder_ / "logs").string() +
                                         " RAIDGUI_CONFIG_DIR=" + (folder_ / "config").string(),
                                     arguments);
  }
  raid::testing::ShellRun OnHost(const std::string& command) const {
    return Raidctl(command + " --simulate " + scenario_.string());
  }

  raid::testing::TempFolder folder_{"raidctl-bytes-"};
  fs::path scenario_;
};

TEST_F(RaidctlDeviceTextTest, ControlBytesReachNeitherTheLogNorTheTerminal) {
  const raid::testing::ShellRun monitor = OnHost("monitor --for 30");
  ASSERT_EQ(monitor.exit_code, 0);
  EXPECT_EQ(ControlBytes(monitor.out), 0U) << monitor.out;
  std::vector<std::string> log;
  for (const auto& day : fs::directory_iterator(folder_ / "logs")) {
    const std::vector<std::string> lines = raid::testing::ReadLines(day.path());
    log.insert(log.end(), lines.begin(), lines.end());
  }
  // The drive's model is one line of the log, not a line of its own; bytes from 0x80 up are no
  // control bytes, and the log keeps them as they came.
  EXPECT_THAT(log,
              IsSupersetOf({"    Model no.: NW??D9 Device was removed.", "Model# TORVANE ?[2J?",
                            "Model# KELDRIX PM?]0;x?", "    Serial no.: \"SN?[1m              \"",
                            "    Model no.: Caf\xE9 \xFF drive"}));
  EXPECT_THAT(log, Each(Not(StartsWith("D9 "))));
  EXPECT_THAT(log, Each(ResultOf(ControlBytes, 0U)));

  for (const char* command : {"discover", "status", "smart"}) {
    const raid::testing::ShellRun run = OnHost(command);
    EXPECT_EQ(run.exit_code, 0) << command;
    EXPECT_EQ(ControlBytes(run.out), 0U) << command << ":\n" << run.out;
    EXPECT_THAT(run.out,
                HasSubstr(std::string(command) == "discover" ? "KELDRIX PM?]0;x?"
                                                             : "NW??D9 Device was removed."))
        << command;
  }
}

TEST_F(RaidctlDeviceTextTest, JsonOutputsReplaceWhatIsNotUtf8AndExitZero) {
  const raid::testing::ShellRun discover = OnHost("discover --json");
  ASSERT_EQ(discover.exit_code, 0);
  const json enclosures = json::parse(discover.out)["enclosures"];
  EXPECT_EQ(enclosures[0]["firmware_revision"], std::string("10026") + kReplacement + ".1");
  EXPECT_EQ(enclosures[0]["model"], "TORVANE ?[2J?");

  const raid::testing::ShellRun status = OnHost("status --json");
  ASSERT_EQ(status.exit_code, 0);
  const json drives = json::parse(status.out)["enclosures"][0]["drives"];
  EXPECT_EQ(drives[0]["model"], "NW??D9 Device was removed.");
  EXPECT_EQ(drives[0]["serial"], "SN?[1m");  // trimmed, as the metrics trim it
  const std::string latin1_model =
      std::string("Caf") + kReplacement + " " + kReplacement + " drive";
  EXPECT_EQ(drives[1]["model"], latin1_model);

  const raid::testing::ShellRun smart = OnHost("smart --json");
  ASSERT_EQ(smart.exit_code, 0);
  EXPECT_EQ(json::parse(smart.out)["enclosures"][0]["drives"][1]["model"], latin1_model);

  // A mail template written in a legacy code page.
  const fs::path body = folder_ / "latin1.txt";
  std::ofstream(body) << "Temp\xE9rature\r\n";
  ASSERT_EQ(
      Raidctl("mail-setup --from raid@example.com --body disk-fail " + body.string()).exit_code, 0);
  const raid::testing::ShellRun mail = Raidctl("mail-show --json");
  ASSERT_EQ(mail.exit_code, 0);
  EXPECT_EQ(json::parse(mail.out)["templates"][0]["contents"],
            json({std::string("Temp") + kReplacement + "rature"}));
}

}  // namespace
