// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/status_command.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/json_output.h"
#include "cli/unopened_drives.h"
#include "common/text_helpers.h"
#include "status/state_text.h"

namespace raid::cli {
namespace {

std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

std::string DriveLine(const ControllerStatus& record, unsigned drive) {
  const std::uint8_t state = record.DriveState(drive);
  const std::string details =
      CapacityText(record.DriveCapacity(drive)) + "  " + record.DriveModel(drive);
  if (state == kDrivePresent) return details;
  if (state == kDriveFailed) return details + "  (failed: capacity too small)";
  return std::string(DriveStateName(state));
}

void PrintPlain(unsigned position, const EnclosureInfo& info, const IdentificationBlock& block,
                const ControllerStatus& record, bool scan_capable) {
  std::string text =
      fmt::format("Device{} (physical drive {})\n", position + 1, DriveNumberOf(info.device_code));
  text += fmt::format("  Mode:             {}\n", ModeName(record.Mode()));
  text += fmt::format("  System Capacity:  {}\n", CapacityText(record.ArrayCapacity()));
  text += fmt::format("  Firmware Version: {}\n", FirmwareRevisionText(block));
  if (SensorsShown(record)) {
    text += fmt::format("  Fan:              {} RPM\n", record.FanSpeed());
    text += fmt::format("  Temperature:      {}\n", record.Temperature());
  }
  text += fmt::format("  HDD1:             {}\n", DriveLine(record, 0));
  text += fmt::format("  HDD2:             {}\n", DriveLine(record, 1));
  text += fmt::format("  State:            {}\n", OneLine(StateText(record, scan_capable)));
  std::fputs(text.c_str(), stdout);
}

nlohmann::json RecordJson(unsigned position, const EnclosureInfo& info,
                          const IdentificationBlock& block, const ControllerStatus& record,
                          bool scan_capable) {
  nlohmann::json drives = nlohmann::json::array();
  for (unsigned drive = 0; drive < 2; ++drive) {
    drives.push_back({{"name", drive == 0 ? "HDD1" : "HDD2"},
                      {"state", std::string(DriveStateName(record.DriveState(drive)))},
                      {"port_state", record.PortState(drive)},
                      {"model", record.DriveModel(drive)},
                      {"serial", TrimmedSerial(record.DriveSerial(drive))},
                      {"capacity_sectors", record.DriveCapacity(drive)},
                      {"capacity", CapacityText(record.DriveCapacity(drive))},
                      {"link_speed", LinkSpeedName(record.LinkSpeed(drive))}});
  }
  nlohmann::json json = {{"position", position},
                         {"drive", DriveNumberOf(info.device_code)},
                         {"model", ModelText(block, kIdModelText)},
                         {"firmware_revision", FirmwareRevisionText(block)},
                         {"mode", record.Mode()},
                         {"mode_name", ModeName(record.Mode())},
                         {"array_capacity_sectors", record.ArrayCapacity()},
                         {"array_capacity", CapacityText(record.ArrayCapacity())},
                         {"drive_flags", record.DriveFlags()},
                         {"activity_flags", record.Activity()},
                         {"progress", record.Progress()},
                         {"sensor_flags", record.SensorFlags()},
                         {"state", OneLine(StateText(record, scan_capable))},
                         {"drives", drives}};
  if (SensorsShown(record)) {
    json["fan_rpm"] = record.FanSpeed();
    json["temperature"] = record.Temperature();
  }
  return json;
}

}  // namespace

int RunStatusCommand(CliSession& session, bool json) {
  const unsigned found = session.DiscoverAndInstall();
  const std::vector<UnopenedDrive>& unopened = session.device().discovery().UnopenedDrives();
  SayUnopenedDrives(unopened);
  if (found == 0) return ReportNoEnclosure(json, unopened, 0);
  // One plain reading: no start-up marking and no daily log for a single look.
  session.monitor().SetListener(nullptr);
  session.state().detection.initial.store(false);
  const std::optional<PositionMask> refreshed = session.monitor().RefreshStatus();
  const PositionMask mask = refreshed.value_or(0);

  const EnclosureRegistry& registry = session.device().registry();
  const bool scan_capable = session.state().target.scan_capable_firmware.load();
  const unsigned shown = std::min<unsigned>(static_cast<unsigned>(registry.current.size()),
                                            session.monitor().watch().polled_positions);
  nlohmann::json list = nlohmann::json::array();
  int exit_code = 0;
  for (unsigned position = 0; position < shown; ++position) {
    const EnclosureInfo& info = registry.current[position];
    if ((mask & (1U << position)) == 0) {
      std::fprintf(stderr, "raidctl: Device%u did not answer the status query\n", position + 1);
      exit_code = 1;
      continue;
    }
    const IdentificationBlock& block = registry.CurrentBlock(position);
    const ControllerStatus& record = session.monitor().Record(DriveNumberOf(info.device_code));
    if (json) {
      list.push_back(RecordJson(position, info, block, record, scan_capable));
    } else {
      PrintPlain(position, info, block, record, scan_capable);
    }
  }
  if (json) {
    nlohmann::json document = {{"enclosures", list}};
    AddUnopenedDrives(document, unopened);
    std::fputs(JsonDocumentText(document).c_str(), stdout);
  }
  return exit_code;
}

}  // namespace raid::cli
