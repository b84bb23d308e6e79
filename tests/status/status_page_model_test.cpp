// SPDX-License-Identifier: GPL-2.0-or-later
// The Status page's texts, colours and visibility, and the device captions, decided on
// hand-made status records and enclosure lists.
#include <gtest/gtest.h>

#include "device/disk_system.h"
#include "status/device_captions.h"
#include "status/status_page_model.h"
#include "support/status_page_input.h"
#include "support/status_record.h"

namespace raid {
namespace {

using testing::Mirror;
using testing::SetDrive;
using testing::WithActivity;

constexpr std::uint64_t k1TB = 1953525168;  // "931 GB"
constexpr std::uint64_t k2TB = 3907029168;  // "1863 GB"

TEST(StatusPageModel, NothingToDrawWithoutAnEnclosureOrACheckedDevice) {
  StatusPageModel model;
  StatusPageInput input = Mirror();
  input.enclosure_known = false;
  EXPECT_EQ(model.RefreshStatusPage(input, true), -1);
  input = Mirror();
  input.device_checked = {false, false};
  EXPECT_EQ(model.RefreshStatusPage(input, true), -1);
  EXPECT_EQ(model.view(), StatusPageView{});

  input.device_checked = {false, true};  // the second box alone is enough
  EXPECT_EQ(model.RefreshStatusPage(input, true), 0);
  EXPECT_TRUE(model.changed());
}

TEST(StatusPageModel, ShowsTheEnclosureAndItsPresentDrives) {
  StatusPageModel model;
  model.RefreshStatusPage(Mirror(), false);
  const StatusPageView& view = model.view();
  EXPECT_EQ(view.mode, "Mirroring(RAID1)");
  EXPECT_EQ(view.system_capacity, "1863 GB");
  EXPECT_EQ(view.firmware_version, "100126.1");
  EXPECT_EQ(view.drives[0].capacity, "1863 GB\n");
  EXPECT_EQ(view.drives[1].model, "WDC WD20EARX-00PASB0");
  for (const DriveLabels& drive : view.drives) {
    EXPECT_EQ(drive.capacity_colour, TextColour::kNavy);
    EXPECT_TRUE(drive.capacity_enabled && drive.model_enabled);
  }
  EXPECT_EQ(view.state_text, "Normal");
  EXPECT_FALSE(view.log_button_shown);
}

TEST(StatusPageModel, RebuildTextIsRedrawnOnlyWhenThePercentageMoves) {
  StatusPageModel model;
  model.RefreshStatusPage(WithActivity(Mirror(), kRebuildingHdd2, 37), false);
  EXPECT_EQ(model.view().state_text, "37%\n>>>>\nRebuilding");
  EXPECT_TRUE(model.view().log_button_shown);
  model.RefreshStatusPage(WithActivity(Mirror(), kRebuildingHdd2, 37), false);
  EXPECT_FALSE(model.changed());
  model.RefreshStatusPage(WithActivity(Mirror(), kRebuildingHdd2, 38), false);
  EXPECT_EQ(model.view().state_text, "38%\n>>>>\nRebuilding");

  // Once the rebuild has ended, the same percentage of the next one is news again.
  model.RefreshStatusPage(Mirror(), false);
  EXPECT_EQ(model.view().state_text, "Normal");
  model.RefreshStatusPage(WithActivity(Mirror(), 0x81, 38), false);
  EXPECT_EQ(model.view().state_text, "38%\nHDD1 Scan");

  StatusPageModel old_firmware;
  StatusPageInput input = WithActivity(Mirror(), 0x82, 12);
  input.scan_capable_firmware = false;
  old_firmware.RefreshStatusPage(input, false);
  EXPECT_EQ(old_firmware.view().state_text, "12%\n>>>>\nRebuilding");
}

TEST(StatusPageModel, DriveLabelsFollowTheDriveState) {
  StatusPageModel model;
  StatusPageInput input = Mirror();
  SetDrive(input.record, 1, {kDriveFailed, "SMALL DISK 80G", "S0", 156301488});
  model.RefreshStatusPage(input, false);
  DriveLabels failed{"74 GB\n", "SMALL DISK 80G", TextColour::kRed, true, false};
  EXPECT_EQ(model.view().drives[1], failed);

  // Pulled out: the record keeps the drive's details, and so does the page, greyed.
  SetDrive(input.record, 0, {kDriveAbsent, "ST2000DM001-1CH164", "Z1E0AAAA", k1TB});
  model.RefreshStatusPage(input, false);
  DriveLabels pulled{"931 GB\n", "ST2000DM001-1CH164", TextColour::kNavy, false, false};
  EXPECT_EQ(model.view().drives[0], pulled);

  // No serial known: the texts stay as they were. Inserted: nothing changes. No flag: emptied.
  SetDrive(input.record, 0, {kDriveAbsent, "OTHER", "    ", k2TB});
  SetDrive(input.record, 1, {kDriveInserted, "NEW DISK", "N1", k1TB});
  model.RefreshStatusPage(input, true);
  EXPECT_EQ(model.view().drives[0], pulled);
  EXPECT_EQ(model.view().drives[1], failed);
  input.record.bytes[status_layout::kDriveFlags] = 0x04;
  model.RefreshStatusPage(input, false);
  EXPECT_EQ(model.view().drives[1].capacity, "");
  EXPECT_EQ(model.view().drives[1].model, "");

  // Present again: navy and enabled, not left red.
  model.RefreshStatusPage(Mirror(), false);
  EXPECT_EQ(model.view().drives[1].capacity_colour, TextColour::kNavy);
  EXPECT_TRUE(model.view().drives[1].model_enabled);
}

TEST(StatusPageModel, DrivesAreRedrawnOnlyWhenTheirFlagsChangeOrWhenForced) {
  StatusPageModel model;
  model.RefreshStatusPage(Mirror(), false);
  StatusPageInput input = Mirror();
  SetDrive(input.record, 0, {kDrivePresent, "CHANGED MODEL", "C1", k1TB});
  input.record.SetArrayCapacity(k1TB);
  model.RefreshStatusPage(input, false);
  EXPECT_EQ(model.view().drives[0].model, "ST2000DM001-1CH164");
  EXPECT_EQ(model.view().system_capacity, "1863 GB");

  model.RefreshStatusPage(input, true);
  EXPECT_EQ(model.view().drives[0].model, "CHANGED MODEL");
  EXPECT_EQ(model.view().system_capacity, "931 GB");
}

// An enclosure replaced by another whose drives are also both present must not keep the old
// drives on the page.
TEST(StatusPageModel, ForgetsWhatItDrewForAnotherEnclosure) {
  StatusPageInput other = Mirror();
  SetDrive(other.record, 0, {kDrivePresent, "HITACHI HDS721010", "H1", k1TB});
  SetDrive(other.record, 1, {kDrivePresent, "HITACHI HDS721010", "H2", k1TB});
  other.record.SetArrayCapacity(k1TB);

  StatusPageModel model;
  model.RefreshStatusPage(Mirror(), false);
  model.Forget();  // a new list was installed
  model.RefreshStatusPage(other, false);
  EXPECT_EQ(model.view().drives[0].model, "HITACHI HDS721010");
  EXPECT_EQ(model.view().system_capacity, "931 GB");

  // Another device shown is noticed without being told.
  StatusPageInput second = Mirror();
  second.status_device = 1;
  model.RefreshStatusPage(second, false);
  EXPECT_EQ(model.view().drives[0].model, "ST2000DM001-1CH164");

  model.RefreshStatusPage(WithActivity(second, kRebuildingHdd2, 37), false);
  model.Forget();
  model.RefreshStatusPage(WithActivity(second, kRebuildingHdd1, 37), false);
  EXPECT_EQ(model.view().state_text, "37%\n<<<<\nRebuilding");

  // Gone even when the new enclosure's drives are not read yet.
  StatusPageInput inserting = Mirror();
  for (unsigned drive : {0U, 1U}) {
    inserting.record.ClearDriveDetails(drive);
    SetDrive(inserting.record, drive, {kDriveInserted});
  }
  model.Forget();
  model.RefreshStatusPage(inserting, false);
  EXPECT_EQ(model.view().drives[0].model, "");
  EXPECT_EQ(model.view().drives[1].capacity, "");
}

TEST(StatusPageModel, ASilentEnclosureSaysSoAndAGoneOneLeavesNoValue) {
  StatusPageModel model;
  model.RefreshStatusPage(Mirror(), false);
  StatusPageInput silent = Mirror();
  silent.device_checked = {false, false};  // unchecked after too many failed polls
  silent.no_response = true;
  EXPECT_EQ(model.RefreshStatusPage(silent, false), 0);
  EXPECT_EQ(model.view().state_text, "No response");
  EXPECT_TRUE(model.view().no_response);
  EXPECT_EQ(model.view().drives[0].model, "ST2000DM001-1CH164");
  EXPECT_EQ(model.view().fan_speed, "2200");
  model.RefreshStatusPage(Mirror(), false);  // checked again, and a poll answered
  EXPECT_EQ(model.view().state_text, "Normal");
  EXPECT_FALSE(model.view().no_response);

  StatusPageInput gone = Mirror();
  gone.enclosure_known = false;
  model.ShowLogButton(true);
  EXPECT_EQ(model.RefreshStatusPage(gone, false), -1);
  StatusPageView blank;
  blank.log_button_shown = true;
  EXPECT_EQ(model.view(), blank);
}

TEST(StatusPageModel, SensorPanelNeedsReportedSensorsAndFirmwareThatAllowsIt) {
  StatusPageModel model;
  model.RefreshStatusPage(Mirror(), false);
  EXPECT_TRUE(model.view().sensor_panel_shown);
  EXPECT_EQ(model.view().fan_speed, "2200");
  EXPECT_EQ(model.view().temperature, "41");
  EXPECT_EQ(model.view().fan_colour, TextColour::kBlue);
  EXPECT_EQ(model.view().temperature_colour, TextColour::kBlue);

  StatusPageInput input = Mirror();
  input.record.bytes[status_layout::kSensorFlags] = 0xA4;  // temperature alarm
  model.RefreshStatusPage(input, false);
  EXPECT_EQ(model.view().fan_colour, TextColour::kBlue);
  EXPECT_EQ(model.view().temperature_colour, TextColour::kRed);
  input.record.bytes[status_layout::kSensorFlags] = 0xA1;  // fan alarm
  model.RefreshStatusPage(input, false);
  EXPECT_EQ(model.view().fan_colour, TextColour::kRed);
  EXPECT_TRUE(model.view().sensor_panel_shown);

  for (std::uint8_t flags : {kSensorsNotReported, kSensorPanelHidden, std::uint8_t{0x00}}) {
    input.record.bytes[status_layout::kSensorFlags] = flags;
    model.RefreshStatusPage(input, false);
    EXPECT_FALSE(model.view().sensor_panel_shown) << "sensor flags " << int{flags};
  }
  input = Mirror();
  input.sensor_panel_allowed = false;
  model.RefreshStatusPage(input, false);
  EXPECT_FALSE(model.view().sensor_panel_shown);
}

class DeviceCaptionsTest : public ::testing::Test {
 protected:
  void AddEnclosure(unsigned drive, const char* model, const char* revision, bool sensors = false) {
    registry_.current.push_back(
        EnclosureInfo{.device_code = drive | kEnclosureBit, .sensor_capable = sensors});
    WriteSwappedText(registry_.previous_blocks[drive], kIdFirmwareRevision, 8, revision);
    WriteSwappedText(registry_.previous_blocks[drive], kIdModelText, kIdModelLength, model);
  }
  void AddVolume(const char* name, std::uint8_t disk, DriveType type = DriveType::kFixed,
                 bool extent = true) {
    registry_.volumes.push_back({.volume = name,
                                 .drive_type = static_cast<std::uint8_t>(type),
                                 .has_extent = extent,
                                 .disk_number = disk});
  }
  DeviceCaptions Firmware(const char* revision, bool sensors = false) {
    registry_ = {};
    AddEnclosure(1, "TORVANE TR6182", revision, sensors);
    return ComputeDeviceCaptions(registry_, 0);
  }
  EnclosureRegistry registry_;
};

TEST_F(DeviceCaptionsTest, NewerDateCodesReportScansAndSensors) {
  const DeviceCaptions newest = Firmware("100126.1");
  EXPECT_EQ(newest.firmware_version_text, "100126.1");
  EXPECT_TRUE(newest.scan_capable_firmware);
  EXPECT_TRUE(newest.sensor_panel_allowed);
  EXPECT_TRUE(Firmware("100125.9").scan_capable_firmware);
  EXPECT_FALSE(Firmware("100125.9").sensor_panel_allowed);

  for (const char* text : {"090618.0", "1001261.", "10012A.1", " 100126."}) {
    const DeviceCaptions captions = Firmware(text);
    EXPECT_FALSE(captions.scan_capable_firmware) << text;
    EXPECT_FALSE(captions.sensor_panel_allowed) << text;
  }
  // A sensor-capable enclosure shows its panel whatever its firmware.
  EXPECT_TRUE(Firmware("090618.0", true).sensor_panel_allowed);
}

TEST_F(DeviceCaptionsTest, HintsNameTheModelAndTheFixedVolumesOnItsDrive) {
  AddEnclosure(2, "TORVANE TR6182", "100126.1");
  AddEnclosure(3, "TORVANE TR6182S", "090618.0", true);
  AddVolume("C", 0);
  AddVolume("E", 2);
  AddVolume("G", 3);
  AddVolume("H", 2, DriveType::kRemovable);
  AddVolume("I", 2, DriveType::kFixed, false);  // spans several disks
  AddVolume("F", 2);

  const DeviceCaptions captions = ComputeDeviceCaptions(registry_, 1);
  EXPECT_EQ(captions.hints,
            (std::vector<std::string>{"TORVANE TR6182 [EF]", "TORVANE TR6182S [G]"}));
  EXPECT_EQ(captions.window_caption, "RAID GUI v0.50.11-4 - TORVANE TR6182S [G]");
  EXPECT_EQ(captions.firmware_version_text, "090618.0");
  EXPECT_EQ(ComputeDeviceCaptions(registry_, 0).firmware_version_text, "100126.1");
}

TEST_F(DeviceCaptionsTest, MountPointsAreSeparatedAndAnUnknownSelectionHasNoHint) {
  AddEnclosure(1, "TORVANE TR6182", "100126.1", true);
  AddEnclosure(4, "TORVANE TR6182", "100126.1");
  AddVolume("/srv", 1);
  AddVolume("/", 0);
  AddVolume("/media/backup", 1);
  const DeviceCaptions captions = ComputeDeviceCaptions(registry_, 0);
  EXPECT_EQ(captions.hints, (std::vector<std::string>{"TORVANE TR6182 [/srv, /media/backup]",
                                                      "TORVANE TR6182 []"}));

  const DeviceCaptions beyond = ComputeDeviceCaptions(registry_, 2);
  EXPECT_EQ(beyond.window_caption, "RAID GUI v0.50.11-4");
  EXPECT_EQ(beyond.firmware_version_text, "");
  EXPECT_FALSE(beyond.sensor_panel_allowed);
}

}  // namespace
}  // namespace raid
