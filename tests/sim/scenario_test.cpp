// SPDX-License-Identifier: GPL-2.0-or-later
// Scenario files: the shipped ones load and say what they promise; mistakes are named.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "common/platform_files.h"
#include "sim_host.h"
#include "support/build_paths.h"
#include "wire_client.h"

namespace raid::sim {
namespace {

std::string ScenarioPath(const char* name) {
  return std::string(RAIDSIM_SCENARIO_DIR) + "/" + name;
}

std::string ErrorOf(std::string_view json) {
  const ScenarioParseResult result = ParseScenario(json);
  EXPECT_FALSE(result.scenario) << json;
  return result.error;
}

TEST(ScenarioFiles, AllShippedScenariosLoad) {
  for (const char* name :
       {"demo.json", "two_enclosures_three_disks.json", "rebuild_story.json", "read_faults.json"}) {
    const ScenarioParseResult result = LoadScenarioFile(ScenarioPath(name));
    EXPECT_TRUE(result.scenario) << name << ": " << result.error;
  }
}

TEST(ScenarioFiles, DemoHasTwoEnclosuresOfWhichOneNamesItselfThroughInquiry) {
  ScenarioParseResult result = LoadScenarioFile(ScenarioPath("demo.json"));
  ASSERT_TRUE(result.scenario) << result.error;
  VirtualClock clock;
  SimHost host(std::move(*result.scenario), clock);
  std::vector<unsigned> enclosures;
  std::vector<unsigned> disks;
  for (unsigned n = 0; n < kMaxDrives; ++n) {
    if (host.enclosure(n)) enclosures.push_back(n);
    if (host.plain_disk(n)) disks.push_back(n);
  }
  ASSERT_EQ(enclosures.size(), 2u);
  EXPECT_EQ(disks.size(), 3u);

  auto first = host.OpenPhysicalDrive(enclosures[0]);
  const auto info = testing::Exchange(*first, testing::Query(0x11));
  EXPECT_NE(info[160], 0);
  EXPECT_EQ(info[124] | info[125], 0);
  EXPECT_EQ(testing::Exchange(*first, testing::Query(0x17))[80], kModeMirroring);
  first.reset();
  auto second = host.OpenPhysicalDrive(enclosures[1]);
  EXPECT_EQ(testing::Exchange(*second, testing::Query(0x11))[160], 0);

  std::size_t on_first_enclosure = 0;
  for (const std::string& volume : host.LogicalVolumes()) {
    const auto extent = host.OpenVolume(volume)->VolumeDiskExtent();
    if (extent && extent->disk_number == enclosures[0]) ++on_first_enclosure;
  }
  EXPECT_EQ(on_first_enclosure, 2u);
}

TEST(ScenarioFiles, RebuildStoryRunsToBothDrivesPresent) {
  ScenarioParseResult result = LoadScenarioFile(ScenarioPath("rebuild_story.json"));
  ASSERT_TRUE(result.scenario) << result.error;
  VirtualClock clock;
  SimHost host(std::move(*result.scenario), clock);
  SimEnclosure* enclosure = nullptr;
  for (unsigned n = 0; n < kMaxDrives && !enclosure; ++n)
    enclosure = host.enclosure(n);
  ASSERT_NE(enclosure, nullptr);

  auto state_at = [&](std::uint64_t seconds) {
    clock.Advance(seconds * 1000 - clock.NowMs());
    host.ApplyDueEvents();
    return enclosure->PortState(1);
  };
  EXPECT_EQ(state_at(29), kPortInArray);
  EXPECT_FALSE(enclosure->MemberPresent(1) && state_at(31) == kPortInArray);
  EXPECT_EQ(state_at(95), kPortNewlyInserted);
  EXPECT_EQ(state_at(120), kPortRebuildTarget);
  EXPECT_TRUE(enclosure->RebuildRunning());
  EXPECT_EQ(state_at(599), kPortInArray);
  EXPECT_EQ(enclosure->PortState(0), kPortInArray);
  EXPECT_FALSE(enclosure->RebuildRunning());
}

TEST(ScenarioParsing, HexStringsNamesAndDefaults) {
  const ScenarioParseResult result = ParseScenario(R"({
    "drives": [{ "number": 2, "type": "enclosure", "revision": ["0x09","0x06","0x1A","0x03","0x27","0x60",0,0],
                 "members": [null, { "state": "too_small", "capacity": "0x1000" }],
                 "faults": { "force_status": { "status": "0xF0" } } }]
  })");
  ASSERT_TRUE(result.scenario) << result.error;
  const auto& config = std::get<EnclosureSpec>(result.scenario->drives.at(2).device);
  EXPECT_EQ(config.revision[2], 0x1A);
  EXPECT_FALSE(config.PortOrderBit());
  EXPECT_FALSE(config.members[0]);
  EXPECT_EQ(config.members[1]->capacity, 0x1000u);
  EXPECT_EQ(config.port_states[1], kPortTooSmall);
  ASSERT_TRUE(config.faults.force_status);
  EXPECT_EQ(config.faults.force_status->status, 0xF0);
  EXPECT_EQ(config.faults.force_status->count, 1u);
  EXPECT_EQ(config.raw_mode, kModeMirroring);
}

// The texts a device reports may be any bytes, given in their hex form beside the text form.
TEST(ScenarioParsing, DeviceTextsTakeAnyBytesInTheirHexForm) {
  const ScenarioParseResult result = ParseScenario(R"({
    "drives": [{ "number": 1, "type": "enclosure", "model_text_hex": "4E 57 0d0a 00 ff",
                 "members": [{ "model_hex": "", "serial_hex": "07 7F" }, {}] },
               { "number": 2, "type": "disk", "vendor_hex": "C3A9" }]
  })");
  ASSERT_TRUE(result.scenario) << result.error;
  const auto& enclosure = std::get<EnclosureSpec>(result.scenario->drives.at(1).device);
  EXPECT_EQ(enclosure.model_text, std::string("NW\r\n\0\xFF", 6));
  EXPECT_EQ(enclosure.members[0]->model, "");
  EXPECT_EQ(enclosure.members[0]->serial, "\x07\x7F");
  EXPECT_EQ(std::get<PlainDiskSpec>(result.scenario->drives.at(2).device).vendor, "\xC3\xA9");

  const std::string both =
      ErrorOf(R"({"drives":[{"number":1,"type":"disk","vendor":"A","vendor_hex":"41"}]})");
  EXPECT_NE(both.find("drives[0].vendor_hex: give either vendor or vendor_hex"), std::string::npos)
      << both;
  for (const char* bad : {R"("4")", R"("4G")", R"("41 4")", R"(65)"}) {
    const std::string error =
        ErrorOf(R"({"drives":[{"number":1,"type":"disk","vendor_hex":)" + std::string(bad) + "}]}");
    EXPECT_EQ(error.rfind("drives[0].vendor_hex: expected bytes", 0), 0U) << bad << ": " << error;
  }
  const std::string long_vendor =
      ErrorOf(R"({"drives":[{"number":1,"type":"disk","vendor_hex":"414141414141414141"}]})");
  EXPECT_NE(long_vendor.find("drives[0].vendor_hex: longer than 8 bytes"), std::string::npos)
      << long_vendor;
}

TEST(ScenarioParsing, BridgeResetsAndHeldReads) {
  const ScenarioParseResult result = ParseScenario(R"({
    "drives": [{ "number": 1, "type": "enclosure", "faults": {
      "unit_attention_at": [ { "lba": "0xA7", "times": 2 } ],
      "hold_reads": [ { "lba": 17, "ms": 600000 }, { "ms": 2000, "times": 3 } ] } }]
  })");
  ASSERT_TRUE(result.scenario) << result.error;
  const FaultSpec& faults = std::get<EnclosureSpec>(result.scenario->drives.at(1).device).faults;
  ASSERT_EQ(faults.unit_attention_at.size(), 1u);
  EXPECT_EQ(faults.unit_attention_at[0].lba, 0xA7u);
  EXPECT_EQ(faults.unit_attention_at[0].times, 2u);
  ASSERT_EQ(faults.hold_reads.size(), 2u);
  EXPECT_EQ(faults.hold_reads[0].lba, 17u);
  EXPECT_EQ(faults.hold_reads[0].ms, 600000u);
  EXPECT_EQ(faults.hold_reads[0].times, 1u);
  EXPECT_FALSE(faults.hold_reads[1].lba);
  EXPECT_EQ(faults.hold_reads[1].times, 3u);

  const std::string no_ms =
      ErrorOf(R"({"drives":[{"number":1,"type":"disk","faults":{"hold_reads":[{"lba":17}]}}]})");
  EXPECT_NE(no_ms.find("drives[0].faults.hold_reads[0].ms: is required"), std::string::npos)
      << no_ms;
}

TEST(ScenarioParsing, DriveCommandFaults) {
  const ScenarioParseResult result = ParseScenario(R"({
    "drives": [{ "number": 1, "type": "enclosure", "faults": { "drive_command_faults": [
      { "feature": "0xD1", "times": 4 },
      { "opcode": "0xB2", "feature": "0xEC", "part": 2, "echo": ["0xB1", 0] } ] } }]
  })");
  ASSERT_TRUE(result.scenario) << result.error;
  const FaultSpec& faults = std::get<EnclosureSpec>(result.scenario->drives.at(1).device).faults;
  ASSERT_EQ(faults.drive_command_faults.size(), 2u);
  EXPECT_EQ(faults.drive_command_faults[0].opcode, 0xB1);
  EXPECT_EQ(faults.drive_command_faults[0].feature, 0xD1);
  EXPECT_EQ(faults.drive_command_faults[0].part, 0);
  EXPECT_FALSE(faults.drive_command_faults[0].echo);
  EXPECT_EQ(faults.drive_command_faults[0].times, 4u);
  EXPECT_EQ(faults.drive_command_faults[1].part, 2);
  EXPECT_EQ(faults.drive_command_faults[1].echo, (std::array<std::uint8_t, 2>{0xB1, 0x00}));
  EXPECT_EQ(faults.drive_command_faults[1].times, 1u);

  const std::string wrong = ErrorOf(
      R"({"drives":[{"number":1,"type":"enclosure","faults":{"drive_command_faults":[{"opcode":"0x20"}]}}]})");
  EXPECT_NE(wrong.find("drives[0].faults.drive_command_faults[0].opcode"), std::string::npos)
      << wrong;
}

TEST(ScenarioParsing, AMoveRenumbersTheDiskForTheHostAndForLaterEvents) {
  const ScenarioParseResult result = ParseScenario(R"({
    "drives": [{ "number": 2, "type": "enclosure" }],
    "volumes": [{ "name": "E", "disk": 2, "offset": 1048576, "length": 4096 }],
    "timeline": [
      { "at_s": 10, "drive": 2, "action": "move", "to": 1 },
      { "at_s": 20, "drive": 1, "action": "pull_drive", "port": 0 }
    ]
  })");
  ASSERT_TRUE(result.scenario) << result.error;
  VirtualClock clock;
  SimHost host(*result.scenario, clock);
  const DiskIdentity identity = host.OpenPhysicalDrive(2)->Identity();
  clock.Advance(10000);
  EXPECT_FALSE(host.IsPresent(2));
  EXPECT_EQ(host.OpenPhysicalDrive(1)->Identity(), identity);
  EXPECT_EQ(host.OpenVolume("E")->VolumeDiskExtent()->disk_number, 1u);
  clock.Advance(10000);
  host.ApplyDueEvents();
  EXPECT_FALSE(host.enclosure(1)->MemberPresent(0));

  const std::string later = ErrorOf(R"({"drives":[{"number":2,"type":"enclosure"}],
      "timeline":[{"at_s":1,"drive":2,"action":"move","to":1},
                  {"at_s":2,"drive":2,"action":"pull_drive","port":0}]})");
  EXPECT_NE(later.find("timeline[1].action"), std::string::npos) << later;
  const std::string itself = ErrorOf(R"({"drives":[{"number":2,"type":"disk"}],
      "timeline":[{"at_s":1,"drive":2,"action":"move","to":2}]})");
  EXPECT_NE(itself.find("timeline[0].to"), std::string::npos) << itself;
  const std::string nothing =
      ErrorOf(R"({"timeline":[{"at_s":1,"drive":2,"action":"move","to":3}]})");
  EXPECT_NE(nothing.find("timeline[0].drive"), std::string::npos) << nothing;
}

TEST(ScenarioParsing, ErrorsNameTheFieldAndTheProblem) {
  const std::string capacity =
      ErrorOf(R"({"drives":[{"number":1,"type":"enclosure","members":[{},{"capacity":"1TB"}]}]})");
  EXPECT_NE(capacity.find("drives[0].members[1].capacity"), std::string::npos) << capacity;
  EXPECT_NE(capacity.find("1TB"), std::string::npos) << capacity;

  const std::string typo = ErrorOf(R"({"drives":[{"number":1,"type":"disk","capcity":5}]})");
  EXPECT_NE(typo.find("drives[0].capcity: unknown field"), std::string::npos) << typo;

  const std::string missing = ErrorOf(R"({"drives":[{"type":"disk"}]})");
  EXPECT_NE(missing.find("drives[0].number: is required"), std::string::npos) << missing;

  const std::string byte =
      ErrorOf(R"({"drives":[{"number":1,"type":"enclosure","temperature":300}]})");
  EXPECT_NE(byte.find("drives[0].temperature"), std::string::npos) << byte;

  const std::string action = ErrorOf(
      R"({"drives":[{"number":0,"type":"disk"}],
          "timeline":[{"at_s":1,"drive":0,"action":"pull_drive","port":1}]})");
  EXPECT_NE(action.find("timeline[0].action"), std::string::npos) << action;
  EXPECT_NE(action.find("not one"), std::string::npos) << action;

  const std::string port = ErrorOf(
      R"({"drives":[{"number":0,"type":"enclosure"}],
          "timeline":[{"at_s":1,"drive":0,"action":"pull_drive","port":2}]})");
  EXPECT_NE(port.find("timeline[0].port"), std::string::npos) << port;

  const std::string json = ErrorOf(R"({"drives": [ )");
  EXPECT_NE(json.find("not valid JSON"), std::string::npos) << json;

  const ScenarioParseResult no_file = LoadScenarioFile(ScenarioPath("no_such_file.json"));
  EXPECT_FALSE(no_file.scenario);
  EXPECT_NE(no_file.error.find("no_such_file.json"), std::string::npos);
}

// Text that would make the loader recurse without end, keep a value silently or take minutes is
// refused quickly, with the place named.
TEST(ScenarioParsing, DeepNestingRepeatedKeysAndLongListsAreRefusedWithTheirPlace) {
  const auto nested = [](std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
  };
  const std::string deep = ErrorOf(R"({"description": )" + nested(100000) + "}");
  EXPECT_EQ(deep.rfind("description[0][0]", 0), 0U) << deep.substr(0, 80);
  EXPECT_NE(deep.find(": nested deeper than 64 levels"), std::string::npos) << deep;
  EXPECT_NE(ErrorOf(nested(100000)).find("nested deeper than 64 levels"), std::string::npos);
  // 64 levels are still read: the field's own check answers; 65 are not.
  EXPECT_EQ(ErrorOf(R"({"description": )" + nested(63) + "}").rfind("description: expected", 0),
            0U);
  EXPECT_NE(ErrorOf(R"({"description": )" + nested(64) + "}").find("nested deeper than 64 levels"),
            std::string::npos);

  EXPECT_EQ(ErrorOf(R"({"seed": 1, "seed": 2})"), "seed: given twice in one object");
  EXPECT_EQ(ErrorOf(R"({"drives": [{"number": 1, "type": "disk"},
                                   {"number": 2, "type": "disk", "type": "enclosure"}]})"),
            "drives[1].type: given twice in one object");
  EXPECT_TRUE(ParseScenario(R"({"drives": [{"number": 1, "type": "disk"}],
                               "volumes": [{"name": "C", "disk": 1}]})")
                  .scenario);

  // A name given twice is found however far apart (bench/scenario_load_bench times it).
  std::string volumes = R"({"volumes": [)";
  for (int i = 0; i < 1000; ++i)
    volumes += R"({"name": "v)" + std::to_string(i) + R"("},)";
  EXPECT_EQ(ErrorOf(volumes + R"({"name": "v0"}]})"),
            "volumes[1000].name: volume \"v0\" is given twice");
}

// A story's start is a local time that exists; anything else is refused, not bent into one.
TEST(ScenarioParsing, StartsAtIsALocalTimeThatExists) {
  const ScenarioParseResult result = ParseScenario(R"({"starts_at": "2026-02-28 23:59:30"})");
  ASSERT_TRUE(result.scenario) << result.error;
  ASSERT_TRUE(result.scenario->starts_at);
  const std::tm local = LocalTime(*result.scenario->starts_at);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  EXPECT_STREQ(text, "2026-02-28 23:59:30");
  EXPECT_FALSE(ParseScenario("{}").scenario->starts_at);

  for (const char* bad :
       {R"("2026-02-30 12:00:00")", R"("2026-12-08 24:00:00")", R"("2026-12-08T12:00:00")",
        R"("2026-12-08 12:00")", R"("2026-12-08 12:00:00 ")", R"("1969-12-31 23:59:59")",
        R"("2026-12-08 12:00:0x")", R"(1796731200)"}) {
    const std::string error = ErrorOf(std::string(R"({"starts_at": )") + bad + "}");
    EXPECT_EQ(error.rfind("starts_at: ", 0), 0U) << bad << ": " << error;
  }
  // The clocks add a story's time to its start: a start they cannot carry is refused by name.
  const std::string far = ErrorOf(R"({"starts_at": "2999-12-31 23:59:59"})");
  EXPECT_EQ(far.rfind("starts_at: ", 0), 0U) << far;
  EXPECT_NE(far.find("past what the clock can hold"), std::string::npos) << far;
}

TEST(ScenarioParsing, APlugEventMakesTheDriveKnownToLaterEvents) {
  const ScenarioParseResult result = ParseScenario(R"({
    "timeline": [
      { "at_s": 20, "drive": 6, "action": "set_fan", "rpm": 1000 },
      { "at_s": 10, "drive": 6, "action": "plug", "device": { "type": "enclosure" } }
    ]
  })");
  ASSERT_TRUE(result.scenario) << result.error;
  VirtualClock clock;
  SimHost host(*result.scenario, clock);
  EXPECT_FALSE(host.IsPresent(6));
  clock.Advance(10000);
  EXPECT_TRUE(host.IsPresent(6));
  EXPECT_NE(host.OpenPhysicalDrive(6), nullptr);
}

}  // namespace
}  // namespace raid::sim
