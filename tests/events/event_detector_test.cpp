// SPDX-License-Identifier: GPL-2.0-or-later
// The event detector's log lines, alerts and file handling, on hand-made status records.
#include "events/event_detector.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "common/bytes.h"
#include "events/log_text.h"
#include "events/log_viewer_model.h"
#include "support/status_record.h"
#include "support/temp_folder.h"
#include "support/text_lines.h"

namespace raid {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakeRecords;
using ::testing::IsEmpty;
using testing::SetDrive;

constexpr const char* kSeparator =
    "-----------------------------------------------------------------------------------";

// Log files in memory, with switches to make reading and writing fail. A file's number changes
// when it is made anew, as a file system's would.
class MemoryStore : public LogFileStore {
 public:
  Presence Probe(const std::string& name) override {
    if (unreachable) {
      error = "unreachable";
      return Presence::kUnknown;
    }
    return files.count(name) != 0 ? Presence::kPresent : Presence::kMissing;
  }
  std::optional<LogFileLines> Load(const std::string& name) override {
    if (fail_load) {
      error = "cannot read";
      return std::nullopt;
    }
    const std::vector<std::string>& lines = files.at(name);
    return LogFileLines{lines, false, false, LogFileMark{true, 0, numbers[name], lines.size()}};
  }
  std::optional<LogFileLines> Append(const std::string& name, const std::vector<std::string>& lines,
                                     const LogFileMark& mark) override {
    ++saves;
    if (fail_save || failing_files.count(name) != 0) {
      error = "disk full";
      return std::nullopt;
    }
    if (files.count(name) == 0) numbers[name] = ++last_number;
    std::vector<std::string>& file = files[name];
    const bool continued = mark.known && mark.file == numbers[name] && mark.end <= file.size();
    const std::size_t from = continued ? mark.end : 0;
    file.insert(file.end(), lines.begin(), lines.end());
    return LogFileLines{
        std::vector<std::string>(file.begin() + static_cast<std::ptrdiff_t>(from), file.end()),
        continued, false, LogFileMark{true, 0, numbers[name], file.size()}};
  }
  const std::string& last_error() const override { return error; }
  std::map<std::string, std::vector<std::string>> files;
  std::map<std::string, std::uint64_t> numbers;
  std::uint64_t last_number = 0;
  std::set<std::string> failing_files;
  bool unreachable = false;
  bool fail_load = false;
  bool fail_save = false;
  int saves = 0;
  std::string error;
};

class RecordingSaveListener : public LogSaveListener {
 public:
  void LogSaveFailed(const std::string& why) override { events.push_back("failed: " + why); }
  void LogSaveRecovered() override { events.push_back("recovered"); }
  std::vector<std::string> events;
};

// Virtual time whose wall clock can also be set back, as a time service does after midnight.
class TestClock : public VirtualClock {
 public:
  using VirtualClock::VirtualClock;
  std::chrono::system_clock::time_point WallNow() override {
    return VirtualClock::WallNow() - back;
  }
  std::chrono::hours back{0};
};

constexpr std::uint64_t kDayMs = 24 * 3600 * 1000;

// What a viewer keeps: a copy of the lines, extended by appending while the generation stays.
struct LogCopy {
  std::vector<std::string> lines;
  std::uint64_t generation = 0;

  void Follow(const EventLog& log) {
    if (log.generation != generation) {
      lines.clear();
      generation = log.generation;
    }
    if (log.lines.size() < lines.size()) {
      lines = {"(the list shrank without a new generation)"};
      return;
    }
    lines.insert(lines.end(), log.lines.begin() + static_cast<std::ptrdiff_t>(lines.size()),
                 log.lines.end());
  }
};

// The alerts, and apart from them what each look said is well.
struct ClearsRecordingSink : RecordingAlertSink {
  void ConditionCleared(AlertKind kind, unsigned enclosure_index, unsigned port) override {
    cleared.push_back({kind, enclosure_index, port});
  }
  std::vector<AlertRequest> cleared;
};

class EventDetectorTest : public ::testing::Test {
 protected:
  EventDetectorTest() {
    // 2026-12-08 10:00:00 UTC; the file name and stamps are the local form of that instant.
    clock_ = std::make_unique<TestClock>(std::chrono::system_clock::time_point{} +
                                         std::chrono::seconds(1796724000));
    AddEnclosure(1);
    ControllerStatus& record = records_.records[1];
    record.bytes[status_layout::kMode] = kModeMirroring;
    record.SetArrayCapacity(1953525168);
    SetDrive(record, 0, {kDrivePresent, "WDC WD10EZEX-00BN5A0", "WD-WCC3F0000001", 1953525168});
    SetDrive(record, 1, {.flag = kDriveAbsent, .port_state = 0x03});
    detector_ = std::make_unique<EventDetector>(log_, store_, *clock_, state_, registry_, records_,
                                                alerts_);
  }
  void AddEnclosure(unsigned drive) {
    registry_.current.push_back(EnclosureInfo{.device_code = drive | kEnclosureBit});
    IdentificationBlock& id = registry_.previous_blocks[drive];
    const std::array<std::uint8_t, 8> revision = {0x09, 0x06, 0x1A, 0x13, 0x27, 0x70, 0, 0};
    std::copy(revision.begin(), revision.end(), id.begin() + kIdFirmwareRevision);
    WriteSwappedText(id, kIdModelText, kIdModelLength, "TORVANE TR6182");
  }
  ControllerStatus& record() { return records_.records[1]; }
  std::string Stamp() { return TimeStampText(clock_->WallNow()); }
  std::string File() { return LogFileName(clock_->WallNow()); }
  // Runs the start-up call and returns the lines of later calls only.
  void StartUp() {
    state_.detection.initial = true;
    detector_->DetectEvents(0x01);
    state_.detection.initial = false;
    alerts_.Take();
  }
  std::vector<std::string> NextCall(std::uint8_t mask = 0x01) {
    clock_->Advance(5000);
    detector_->DetectEvents(mask);
    const auto added = static_cast<std::ptrdiff_t>(detector_->LinesAddedByLastCall());
    return std::vector<std::string>(log_.lines.end() - added, log_.lines.end());
  }

  std::unique_ptr<TestClock> clock_;
  SharedState state_;
  EnclosureRegistry registry_;
  FakeRecords records_;
  MemoryStore store_;
  EventLog log_;
  ClearsRecordingSink alerts_;
  std::unique_ptr<EventDetector> detector_;
};

TEST_F(EventDetectorTest, FirstCallWritesTheStartSectionAndNoDriveChange) {
  state_.detection.initial = true;
  detector_->DetectEvents(0x01);
  const std::string stamp = Stamp();
  EXPECT_THAT(
      log_.lines,
      ElementsAre(kSeparator, "RAID GUI v0.50.11-4 has started from " + stamp,
                  "Device1 information :", "Model# TORVANE TR6182",
                  "Mirroring(RAID1), F/W Rev. 09061A.3",
                  "Configured Capacity : 931 GB(1953525168 Sectors)", "  HDD1 is present.(SATA)00",
                  "    Model no.: WDC WD10EZEX-00BN5A0", "    Serial no.: \"WD-WCC3F0000001     \"",
                  "    Capacity : 931 GB(1953525168 Sectors)", "  HDD2 is absent. 03", kSeparator));
  EXPECT_EQ(store_.files.at(File()), log_.lines);
  EXPECT_THAT(alerts_.Take(), IsEmpty());
}

TEST_F(EventDetectorTest, AbsentDriveWithKnownSerialShowsItsLastDetails) {
  SetDrive(record(), 1, {kDriveAbsent, "OLD MODEL", "OLDSERIAL", 1000000, 0x03});
  state_.detection.initial = true;
  detector_->DetectEvents(0x01);
  EXPECT_THAT(std::vector<std::string>(log_.lines.end() - 5, log_.lines.end()),
              ElementsAre("  HDD2 is absent. 03", "    Model no.: OLD MODEL",
                          "    Serial no.: \"OLDSERIAL           \"",
                          "    Capacity : 488 MB(1000000 Sectors)", kSeparator));
}

TEST_F(EventDetectorTest, Hdd2BecomingPresentIsLoggedWithDetailsAndAsksForThresholds) {
  StartUp();
  SetDrive(record(), 1, {kDrivePresent, "WDC WD10EZEX-00BN5A0", "WD-WCC3F0000002", 1953525168});
  const std::vector<std::string> lines = NextCall();
  EXPECT_THAT(lines, ElementsAre("D1 HDD2 was initialized, (SATA), 00" + Stamp(),
                                 "  Model no.: WDC WD10EZEX-00BN5A0",
                                 "  Serial no.: \"WD-WCC3F0000002     \"",
                                 "  Capacity : 931 GB(1953525168 Sectors)"));
  EXPECT_EQ(state_.polling.work_requests & kRequestSmartThresholds, kRequestSmartThresholds);
}

TEST_F(EventDetectorTest, PulledDriveIsLoggedAndAlertedOnce) {
  StartUp();
  SetDrive(record(), 0, {.flag = kDriveAbsent, .port_state = 0x03});
  {
    const std::vector<std::string> lines = NextCall();
    EXPECT_THAT(lines, ElementsAre("D1 HDD1 was removed, 03" + Stamp()));
  }
  EXPECT_THAT(alerts_.Take(), ElementsAre(AlertRequest{AlertKind::kHardDisksFail, 0, 0}));
  {
    const std::vector<std::string> lines = NextCall();
    EXPECT_THAT(lines, IsEmpty());
  }
  EXPECT_THAT(alerts_.Take(), IsEmpty());
}

TEST_F(EventDetectorTest, InsertedAndTooSmallDrives) {
  StartUp();
  SetDrive(record(), 1, {.flag = kDriveInserted, .port_state = 0x06});
  {
    const std::vector<std::string> lines = NextCall();
    EXPECT_THAT(lines, ElementsAre("D1 HDD2 was inserted, 06" + Stamp()));
  }
  SetDrive(record(), 1, {kDriveFailed, "TINY", "T1", 1000, 0x09});
  const std::vector<std::string> lines = NextCall();
  ASSERT_EQ(lines.size(), 4U);
  EXPECT_EQ(lines[0], "D1 HDD2 was failed, Capacity too small.09" + Stamp());
  EXPECT_EQ(lines[3], "  Capacity : 0 MB(1000 Sectors)");
}

TEST_F(EventDetectorTest, RebuildLogsEachNewPercentThenDoneAfterNinetyNine) {
  StartUp();
  record().bytes[status_layout::kActivity] = kRebuildingHdd2;
  record().SetProgress(5);
  {
    const std::vector<std::string> lines = NextCall();
    EXPECT_THAT(lines, ElementsAre("D1 HDD1 --> HDD2 5%, " + Stamp()));
  }
  {
    const std::vector<std::string> lines = NextCall();
    EXPECT_THAT(lines, IsEmpty());
  }
  record().SetProgress(6);
  {
    const std::vector<std::string> lines = NextCall();
    EXPECT_THAT(lines, ElementsAre("D1 HDD1 --> HDD2 6%, " + Stamp()));
  }
  record().SetProgress(99);
  NextCall();
  record().bytes[status_layout::kActivity] = 0;
  SetDrive(record(), 1, {kDrivePresent});
  const std::vector<std::string> lines = NextCall();
  EXPECT_EQ(lines.back(), "D1 HDD1 --> HDD2 Done, " + Stamp());
}

TEST_F(EventDetectorTest, RebuildEndingBeforeNinetyNineSaysBothDrivesAreOk) {
  SetDrive(record(), 1, {.flag = kDrivePresent, .port_state = 0x01});
  StartUp();
  record().bytes[status_layout::kActivity] = kRebuildingHdd1;
  record().SetProgress(97);
  {
    const std::vector<std::string> lines = NextCall();
    EXPECT_THAT(lines, ElementsAre("D1 HDD2 --> HDD1 97%, " + Stamp()));
  }
  record().bytes[status_layout::kActivity] = 0;
  {
    const std::vector<std::string> lines = NextCall();
    EXPECT_THAT(lines, ElementsAre("D1 HDD1 OK, HDD2 OK, " + Stamp()));
  }
  {
    const std::vector<std::string> lines = NextCall();
    EXPECT_THAT(lines, IsEmpty());
  }
}

TEST_F(EventDetectorTest, ScanOnCapableFirmwareIsLoggedAsScan) {
  SetDrive(record(), 1, {kDrivePresent});
  StartUp();
  state_.target.scan_capable_firmware = true;
  record().bytes[status_layout::kActivity] = kRebuildingHdd1 | kScanOrSsdTooSmall;
  record().SetProgress(99);
  {
    const std::vector<std::string> lines = NextCall();
    EXPECT_THAT(lines, ElementsAre("D1 HDD1 Scan 99%, " + Stamp()));
  }
  record().bytes[status_layout::kActivity] = 0;
  {
    const std::vector<std::string> lines = NextCall();
    EXPECT_THAT(lines, ElementsAre("D1 HDD1 Scan Done, " + Stamp()));
  }
}

TEST_F(EventDetectorTest, TwelveNewBadSectorsLogTheHeaderAndTheLastTen) {
  StartUp();
  record().bytes[status_layout::kActivity] = kBadSectorsHdd1;
  record().bytes[status_layout::kBadSectorCount] = 12;
  for (unsigned k = 0; k < 12; ++k) {
    WriteLittleEndian(record().bytes, status_layout::BadSectorOffset(k % 10),
                      status_layout::kBadSectorLength, 1000 + k);
  }
  const std::vector<std::string> lines = NextCall();
  ASSERT_EQ(lines.size(), 11U);
  EXPECT_EQ(lines[0], "D1 HDD1 Bad Sector was found. " + Stamp());
  EXPECT_EQ(lines[1], "  LBA: 1002");
  EXPECT_EQ(lines[10], "  LBA: 1011");
  {
    const std::vector<std::string> lines = NextCall();
    EXPECT_THAT(lines, IsEmpty());
  }
}

TEST_F(EventDetectorTest, SensorAlarmsRaiseAlertsButNoLines) {
  StartUp();
  record().bytes[status_layout::kSensorFormat] = 0x11;
  record().bytes[status_layout::kSensorFlags] = 0xA0 | kFanAlarm | kTemperatureAlarm;
  {
    const std::vector<std::string> lines = NextCall();
    EXPECT_THAT(lines, IsEmpty());
  }
  EXPECT_THAT(alerts_.Take(), ElementsAre(AlertRequest{AlertKind::kFanFail, 0, 0},
                                          AlertRequest{AlertKind::kOverHeat, 0, 0}));
  NextCall();
  EXPECT_THAT(alerts_.Take(), IsEmpty());

  // A second enclosure: its alarm is its own, and the first's lasting alarm is not told again.
  AddEnclosure(2);
  records_.records[2] = record();
  records_.records[2].bytes[status_layout::kSensorFlags] = 0xA0;
  NextCall(0x03);
  alerts_.Take();  // its drives' first look
  NextCall(0x03);
  EXPECT_THAT(alerts_.Take(), IsEmpty());
  records_.records[2].bytes[status_layout::kSensorFlags] = 0xA0 | kFanAlarm;
  NextCall(0x03);
  NextCall(0x03);
  EXPECT_THAT(alerts_.Take(), ElementsAre(AlertRequest{AlertKind::kFanFail, 1, 0}));
}

// Every look says what is well, so that what was told of can be told resolved: a drive that is
// present, a sensor without its alarm, an enclosure found again at its place.
TEST_F(EventDetectorTest, EachLookSaysWhatIsWellAgain) {
  StartUp();
  record().bytes[status_layout::kSensorFormat] = 0x11;
  record().bytes[status_layout::kSensorFlags] = 0xA0 | kTemperatureAlarm;
  alerts_.cleared.clear();
  NextCall();
  EXPECT_THAT(alerts_.cleared, ElementsAre(AlertRequest{AlertKind::kHardDisksFail, 0, 0},
                                           AlertRequest{AlertKind::kFanFail, 0, 0}));
  record().bytes[status_layout::kSensorFlags] = 0xA0;
  SetDrive(record(), 1, {kDrivePresent});
  alerts_.cleared.clear();
  NextCall();
  EXPECT_THAT(alerts_.cleared, ElementsAre(AlertRequest{AlertKind::kHardDisksFail, 0, 0},
                                           AlertRequest{AlertKind::kHardDisksFail, 0, 1},
                                           AlertRequest{AlertKind::kFanFail, 0, 0},
                                           AlertRequest{AlertKind::kOverHeat, 0, 0}));
  record().bytes[status_layout::kSensorFlags] = 0xFF;  // not reported: nothing said of either
  alerts_.cleared.clear();
  detector_->AddDiscoveryChanges({ListChange{ListChange::Kind::kFound, 1}});
  NextCall(0x00);
  EXPECT_THAT(alerts_.cleared, ElementsAre(AlertRequest{AlertKind::kDeviceRemoved, 1, 0}));
}

TEST_F(EventDetectorTest, NewDayStartsANewFileWithASectionAndNoDriveChange) {
  StartUp();
  const std::string first_file = File();
  SetDrive(record(), 1, {kDrivePresent});  // changed across midnight: not an event
  clock_->Advance(kDayMs);
  const std::vector<std::string> lines = NextCall();
  ASSERT_NE(File(), first_file);
  EXPECT_EQ(log_.lines.front(), kSeparator);
  EXPECT_EQ(log_.lines[1], "Device1 information :");
  EXPECT_EQ(log_.lines.back(), kSeparator);
  for (const std::string& line : log_.lines)
    EXPECT_EQ(line.find("has started"), std::string::npos);
  EXPECT_EQ(store_.files.at(File()), log_.lines);
  EXPECT_EQ(store_.files.count(first_file), 1U);
  // The change that fell on the new section is not lost: the next call reports it.
  const std::vector<std::string> next = NextCall();
  ASSERT_FALSE(next.empty());
  EXPECT_EQ(next[0], "D1 HDD2 was initialized, (SATA), 00" + Stamp());
}

TEST_F(EventDetectorTest, DiscoveryChangesWaitForTheNextCallAndAlertAtOnce) {
  AddEnclosure(2);
  records_.records[2] = record();
  StartUp();
  // The first enclosure was removed.
  detector_->AddDiscoveryChanges({ListChange{ListChange::Kind::kRemoved, 0}});
  EXPECT_THAT(alerts_.Take(), ElementsAre(AlertRequest{AlertKind::kDeviceRemoved, 0, 0}));
  EXPECT_THAT(detector_->Pending().lines,
              ElementsAre("D1 Device was removed.", "    Device had changed."));
  registry_.current.erase(registry_.current.begin());

  const std::vector<std::string> lines = NextCall();
  ASSERT_GE(lines.size(), 4U);
  EXPECT_EQ(lines[0], kSeparator);
  EXPECT_EQ(lines[1], "D1 Device was removed." + Stamp());
  EXPECT_EQ(lines[2], "    Device had changed." + Stamp());
  EXPECT_EQ(lines[3], "Device1 information :");
  EXPECT_FALSE(detector_->Pending().pending);
}

TEST_F(EventDetectorTest, LogThatCannotBeReadIsNeitherLostNorOverwritten) {
  store_.files[File()] = {"earlier line"};
  store_.fail_load = true;
  StartUp();
  EXPECT_EQ(store_.files.at(File()), std::vector<std::string>{"earlier line"});
  EXPECT_EQ(store_.saves, 0);

  store_.fail_load = false;
  SetDrive(record(), 0, {.flag = kDriveAbsent, .port_state = 0x03});
  NextCall();
  const std::vector<std::string>& saved = store_.files.at(File());
  EXPECT_EQ(saved.front(), "earlier line");
  EXPECT_EQ(saved[2].rfind("RAID GUI v0.50.11-4 has started from ", 0), 0U);
  EXPECT_EQ(saved.back(), "D1 HDD1 was removed, 03" + Stamp());
  EXPECT_EQ(saved, log_.lines);
}

TEST_F(EventDetectorTest, FailedSaveIsRepeatedByTheNextCall) {
  store_.fail_save = true;
  StartUp();
  EXPECT_TRUE(detector_->Unsaved());
  EXPECT_EQ(store_.files.count(File()), 0U);
  const std::size_t lines = log_.lines.size();

  store_.fail_save = false;
  NextCall();  // nothing new happened, yet the waiting lines are written
  EXPECT_FALSE(detector_->Unsaved());
  EXPECT_EQ(store_.files.at(File()).size(), lines);

  // At a stop, one last try saves what waits without another call.
  store_.fail_save = true;
  SetDrive(record(), 0, {.flag = kDriveAbsent, .port_state = 0x03});
  NextCall();
  ASSERT_TRUE(detector_->Unsaved());
  store_.fail_save = false;
  detector_->SaveWaitingLines();
  EXPECT_FALSE(detector_->Unsaved());
  EXPECT_EQ(store_.files.at(File()), log_.lines);
}

// Lines that could not be saved are not thrown away when the day's file vanishes meanwhile:
// they go to the new file ahead of its section, and only then is saving said to work again.
TEST_F(EventDetectorTest, LinesWaitingWhenTheDaysFileVanishesGoToTheNewFile) {
  RecordingSaveListener listener;
  detector_->SetSaveListener(&listener);
  StartUp();
  store_.fail_save = true;
  SetDrive(record(), 0, {.flag = kDriveAbsent, .port_state = 0x03});
  const std::vector<std::string> waiting = NextCall();
  ASSERT_FALSE(waiting.empty());
  store_.files.erase(File());
  store_.fail_save = false;
  NextCall();
  ASSERT_EQ(store_.files.count(File()), 1U);
  const std::vector<std::string>& saved = store_.files.at(File());
  ASSERT_GE(saved.size(), waiting.size() + 1);
  EXPECT_TRUE(std::equal(waiting.begin(), waiting.end(), saved.begin()));
  EXPECT_EQ(saved[waiting.size()], kSeparator);
  EXPECT_FALSE(detector_->Unsaved());
  EXPECT_THAT(listener.events, ElementsAre("failed: disk full", "recovered"));
}

// A day's file we only read (another program wrote it) is as much ours as one we wrote: when it
// vanishes, the list no file holds any more gives way to a new section in a new file.
TEST_F(EventDetectorTest, DaysFileOnlyReadThatVanishesStartsANewSection) {
  StartUp();
  clock_->Advance(kDayMs);
  store_.files[File()] = {"another program's line"};
  NextCall();
  ASSERT_EQ(log_.lines, store_.files.at(File()));
  store_.files.erase(File());
  NextCall();
  ASSERT_EQ(store_.files.count(File()), 1U);
  EXPECT_EQ(store_.files.at(File()).front(), kSeparator);
  EXPECT_EQ(store_.files.at(File()), log_.lines);
}

TEST_F(EventDetectorTest, UnreachableFolderKeepsTheListUsable) {
  store_.unreachable = true;
  StartUp();
  EXPECT_FALSE(log_.lines.empty());
  SetDrive(record(), 0, {.flag = kDriveAbsent, .port_state = 0x03});
  {
    const std::vector<std::string> lines = NextCall();
    EXPECT_THAT(lines, ElementsAre("D1 HDD1 was removed, 03" + Stamp()));
  }
  EXPECT_EQ(store_.saves, 0);
  store_.unreachable = false;
  NextCall();
  EXPECT_EQ(store_.files.at(File()), log_.lines);
}

TEST_F(EventDetectorTest, DaysThatCouldNotBeSavedLandInTheirOwnFilesOnceSavingWorks) {
  StartUp();
  const std::string day1 = File();
  store_.fail_save = true;
  SetDrive(record(), 0, {.flag = kDriveAbsent, .port_state = 0x03});
  NextCall();
  const std::vector<std::string> day1_lines = log_.lines;
  clock_->Advance(kDayMs);
  NextCall();
  const std::string day2 = File();
  const std::vector<std::string> day2_lines = log_.lines;
  clock_->Advance(kDayMs);
  NextCall();
  EXPECT_TRUE(detector_->Unsaved());
  EXPECT_THAT(detector_->UnsavedFiles(), ElementsAre(day1, day2, File()));
  EXPECT_EQ(store_.files.at(day1).back().find("was removed"), std::string::npos);

  store_.fail_save = false;
  NextCall();
  EXPECT_EQ(store_.files.at(day1), day1_lines);
  EXPECT_EQ(store_.files.at(day2), day2_lines);
  EXPECT_EQ(store_.files.at(File()), log_.lines);
  EXPECT_FALSE(detector_->Unsaved());
}

TEST_F(EventDetectorTest, UnreadableFileOfAnEarlierDayGetsItsLinesAfterItsContent) {
  store_.files[File()] = {"earlier line"};
  store_.fail_load = true;
  StartUp();
  const std::string day1 = File();
  const std::vector<std::string> waiting = log_.lines;
  clock_->Advance(kDayMs);
  NextCall();
  EXPECT_EQ(store_.files.at(day1), std::vector<std::string>{"earlier line"});
  EXPECT_EQ(store_.files.at(File()), log_.lines);
  EXPECT_TRUE(detector_->Unsaved());

  store_.fail_load = false;
  NextCall();
  std::vector<std::string> expected = {"earlier line"};
  expected.insert(expected.end(), waiting.begin(), waiting.end());
  EXPECT_EQ(store_.files.at(day1), expected);
  EXPECT_FALSE(detector_->Unsaved());
}

TEST_F(EventDetectorTest, ClockSetBackIntoAnUnsavedDayContinuesThatDaysList) {
  store_.fail_save = true;
  StartUp();
  const std::string day1 = File();
  clock_->Advance(kDayMs);
  NextCall();
  clock_->back = std::chrono::hours(24);
  ASSERT_EQ(File(), day1);
  SetDrive(record(), 0, {.flag = kDriveAbsent, .port_state = 0x03});
  NextCall();
  store_.fail_save = false;
  NextCall();
  // One list per file: neither the start section nor the later line replaces the other.
  const std::vector<std::string>& saved = store_.files.at(day1);
  EXPECT_EQ(saved[1].rfind("RAID GUI v0.50.11-4 has started from ", 0), 0U);
  EXPECT_EQ(saved.back().rfind("D1 HDD1 was removed, 03", 0), 0U);
  EXPECT_EQ(saved, log_.lines);
}

TEST_F(EventDetectorTest, SaveFailureIsReportedOncePerEpisodeUntilEveryDayIsSaved) {
  RecordingSaveListener listener;
  detector_->SetSaveListener(&listener);
  store_.fail_save = true;
  StartUp();
  SetDrive(record(), 0, {.flag = kDriveAbsent, .port_state = 0x03});
  NextCall();
  NextCall();
  EXPECT_THAT(listener.events, ElementsAre("failed: disk full"));
  store_.fail_save = false;
  NextCall();
  EXPECT_THAT(listener.events, ElementsAre("failed: disk full", "recovered"));

  // The next episode lasts while the old day's file refuses, though the new day's takes its lines.
  const std::string day1 = File();
  store_.failing_files = {day1};
  SetDrive(record(), 0, {kDrivePresent});
  NextCall();
  clock_->Advance(kDayMs);
  NextCall();
  EXPECT_EQ(store_.files.at(File()), log_.lines);
  EXPECT_TRUE(detector_->Unsaved());
  EXPECT_THAT(detector_->UnsavedFiles(), ElementsAre(day1));
  EXPECT_THAT(listener.events, ElementsAre("failed: disk full", "recovered", "failed: disk full"));

  store_.failing_files.clear();
  NextCall();
  EXPECT_FALSE(detector_->Unsaved());
  EXPECT_THAT(listener.events,
              ElementsAre("failed: disk full", "recovered", "failed: disk full", "recovered"));
}

TEST_F(EventDetectorTest, CopyFollowingTheGenerationStaysExactAcrossDaysAndVanishedFiles) {
  LogCopy copy;
  StartUp();
  copy.Follow(log_);
  const std::uint64_t first = log_.generation;

  SetDrive(record(), 0, {.flag = kDriveAbsent, .port_state = 0x03});
  NextCall();
  NextCall();
  copy.Follow(log_);
  EXPECT_EQ(log_.generation, first);  // appending alone must not make viewers start over
  EXPECT_EQ(copy.lines, log_.lines);

  // A new day: its first list is about as long as the day before's, so only the generation
  // tells the copy to drop yesterday's lines.
  clock_->Advance(kDayMs);
  NextCall();
  copy.Follow(log_);
  EXPECT_NE(log_.generation, first);
  EXPECT_EQ(copy.lines, log_.lines);

  SetDrive(record(), 0, {kDrivePresent});
  NextCall();
  copy.Follow(log_);
  EXPECT_EQ(copy.lines, log_.lines);

  // The day's file vanished after we wrote it: the list starts a new section.
  store_.files.erase(File());
  NextCall();
  copy.Follow(log_);
  EXPECT_EQ(log_.lines.front(), kSeparator);
  EXPECT_EQ(copy.lines, log_.lines);
}

TEST_F(EventDetectorTest, CopyFollowingTheGenerationSeesLoadedContentGoBeforeWaitingLines) {
  store_.files[File()] = {"earlier line"};
  store_.fail_load = true;
  LogCopy copy;
  StartUp();
  copy.Follow(log_);
  ASSERT_NE(log_.lines.front(), "earlier line");

  store_.fail_load = false;
  NextCall();
  copy.Follow(log_);
  ASSERT_EQ(log_.lines.front(), "earlier line");
  EXPECT_EQ(copy.lines, log_.lines);
}

TEST_F(EventDetectorTest, CopyFollowingTheGenerationSeesTheClockGoBackToAWaitingDay) {
  store_.fail_save = true;
  LogCopy copy;
  StartUp();
  SetDrive(record(), 0, {.flag = kDriveAbsent, .port_state = 0x03});
  NextCall();
  const std::vector<std::string> day1 = log_.lines;
  clock_->Advance(kDayMs);
  NextCall();
  copy.Follow(log_);
  // The new day's list is shorter, and then the old, longer one comes back.
  clock_->back = std::chrono::hours(24);
  NextCall();
  copy.Follow(log_);
  EXPECT_EQ(log_.lines, day1);
  EXPECT_EQ(copy.lines, log_.lines);
}

// A day's log in a real folder, for the tests of programs that share it.
class SharedDayTest : public EventDetectorTest {
 protected:
  std::vector<std::string> FileLines() { return testing::ReadLines(folder_ / File()); }
  static std::uintmax_t HeldBytes(const EventLog& log) {
    std::uintmax_t bytes = 0;
    for (const std::string& line : log.lines)
      bytes += line.size() + 1;
    return bytes;
  }
  // Another program's lines, `bytes` of them, straight into the day's file.
  void WriteOthersLines(const std::string& name, std::size_t bytes) {
    std::string text;
    for (std::size_t i = 0; text.size() < bytes; ++i)
      text += name + " line " + std::to_string(i) + " " + std::string(80, '.') + "\n";
    std::ofstream(folder_ / File(), std::ios::app | std::ios::binary) << text;
  }

  testing::TempFolder folder_{"raidgui-shared-day-"};
};

TEST_F(SharedDayTest, TwoProgramsOnOneDayEachSeeTheOthersLinesAfterTheirSave) {
  FolderLogStore first_store(folder_);
  FolderLogStore second_store(folder_);
  EventLog second_log;
  EventDetector second(second_log, second_store, *clock_, state_, registry_, records_, alerts_);
  EventDetector first(log_, first_store, *clock_, state_, registry_, records_, alerts_);
  LogCopy copy;
  state_.detection.initial = true;
  first.DetectEvents(0x01);
  copy.Follow(log_);
  second.DetectEvents(0x01);
  state_.detection.initial = false;
  EXPECT_EQ(second_log.lines, FileLines());

  // Both see the drive go; each save brings the other's lines since, in the file's order.
  SetDrive(record(), 0, {.flag = kDriveAbsent, .port_state = 0x03});
  clock_->Advance(5000);
  first.DetectEvents(0x01);
  EXPECT_EQ(log_.lines, FileLines());
  copy.Follow(log_);
  EXPECT_EQ(copy.lines, log_.lines);
  clock_->Advance(5000);
  second.DetectEvents(0x01);
  EXPECT_EQ(second_log.lines, FileLines());
  const std::vector<std::string> file = FileLines();
  EXPECT_EQ(
      std::count_if(file.begin(), file.end(),
                    [](const std::string& line) { return line.find("has started") != line.npos; }),
      2);
  EXPECT_EQ(std::count(file.begin(), file.end(), "D1 HDD1 was removed, 03" + Stamp()), 1);
  EXPECT_EQ(file.back(), "D1 HDD1 was removed, 03" + Stamp());
}

// A 300 MB day once took 880 MB of memory: only the last lines are held, and the viewer says
// where the others are.
TEST_F(SharedDayTest, LargeDayIsHeldByItsLastLinesAndTheViewerSaysWhereTheRestAre) {
  WriteOthersLines("earlier", 20u << 20);
  FolderLogStore store(folder_);
  EventDetector detector(log_, store, *clock_, state_, registry_, records_, alerts_);
  state_.detection.initial = true;
  detector.DetectEvents(0x01);
  state_.detection.initial = false;
  EXPECT_LE(HeldBytes(log_), kLargestViewedFile);
  EXPECT_GE(HeldBytes(log_), kLargestViewedFile / 2);
  EXPECT_TRUE(log_.earlier_lines_in_file);
  const std::vector<std::string> file = FileLines();
  EXPECT_TRUE(std::equal(log_.lines.rbegin(), log_.lines.rend(), file.rbegin()));

  SharedEventLog shared;
  shared.Publish(log_);
  SharedState viewer_state;
  viewer_state.polling.work_requests = kLogRunningFlag;
  LogViewerModel viewer(shared, viewer_state);
  MemoUpdate shown = viewer.RealTime();
  while (viewer.MoreToShow()) {  // a day this long comes in parts
    const MemoUpdate part = viewer.Tick();
    shown.lines.insert(shown.lines.end(), part.lines.begin(), part.lines.end());
  }
  ASSERT_EQ(shown.lines.size(), log_.lines.size() + 1);
  EXPECT_EQ(shown.lines.front(),
            "(Earlier lines of this day are only in its file, " + File() + ".)");
  EXPECT_EQ(shown.lines.back(), log_.lines.back());

  // Another program keeps writing much; each save takes its lines and holds no more.
  for (int round = 0; round < 4; ++round) {
    WriteOthersLines("other", 3u << 20);
    SetDrive(record(), 0,
             {.flag = round % 2 == 0 ? kDriveAbsent : kDrivePresent, .port_state = 0x03});
    clock_->Advance(5000);
    detector.DetectEvents(0x01);
    EXPECT_LE(HeldBytes(log_), kLargestViewedFile);
    EXPECT_EQ(log_.lines.back(), FileLines().back());
  }
  EXPECT_TRUE(std::equal(log_.lines.rbegin(), log_.lines.rend(), FileLines().rbegin()));
}

}  // namespace
}  // namespace raid
