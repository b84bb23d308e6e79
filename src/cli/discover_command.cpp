// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/discover_command.h"

#include <fmt/format.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/json_output.h"
#include "cli/unopened_drives.h"
#include "common/text_helpers.h"

namespace raid::cli {
namespace {

const char* KindName(ControllerKind kind) {
  return kind == ControllerKind::kRaidBridge ? "RAID bridge" : "port-multiplier bridge";
}

struct EnclosureRow {
  unsigned position;
  unsigned drive;
  ControllerKind kind;
  std::string firmware;
  std::string model;
  std::uint8_t type_byte;
};

std::vector<EnclosureRow> Rows(const EnclosureRegistry& registry) {
  std::vector<EnclosureRow> rows;
  for (unsigned position = 0; position < registry.current.size(); ++position) {
    const EnclosureInfo& info = registry.current[position];
    const IdentificationBlock& block = registry.CurrentBlock(position);
    rows.push_back({position, DriveNumberOf(info.device_code), info.controller_kind,
                    FirmwareRevisionText(block), ModelText(block, kIdModelText),
                    info.firmware_type_byte});
  }
  return rows;
}

void PrintTable(const std::vector<EnclosureRow>& rows) {
  std::fputs(fmt::format("{:<9}{:<7}{:<24}{:<10}{:<6}{}\n", "Position", "Drive", "Controller",
                         "Firmware", "Type", "Model")
                 .c_str(),
             stdout);
  for (const EnclosureRow& row : rows) {
    std::fputs(
        fmt::format("{:<9}{:<7}{:<24}{:<10}{:<6}{}\n", row.position, row.drive, KindName(row.kind),
                    row.firmware, fmt::format("{:02X}", row.type_byte), row.model)
            .c_str(),
        stdout);
  }
}

void PrintJson(const std::vector<EnclosureRow>& rows, const std::vector<UnopenedDrive>& unopened) {
  nlohmann::json list = nlohmann::json::array();
  for (const EnclosureRow& row : rows) {
    list.push_back({{"position", row.position},
                    {"drive", row.drive},
                    {"controller_kind", static_cast<int>(row.kind)},
                    {"controller", KindName(row.kind)},
                    {"firmware_revision", row.firmware},
                    {"model", row.model},
                    {"firmware_type_byte", row.type_byte}});
  }
  nlohmann::json document = {{"enclosures", list}};
  AddUnopenedDrives(document, unopened);
  std::fputs(JsonDocumentText(document).c_str(), stdout);
}

}  // namespace

int RunDiscoverCommand(CliSession& session, bool json) {
  const unsigned found = session.DiscoverAndInstall();
  const std::vector<EnclosureRow> rows = Rows(session.device().registry());
  const std::vector<UnopenedDrive>& unopened = session.device().discovery().UnopenedDrives();
  SayUnopenedDrives(unopened);
  // Finding nothing because disks were closed to us is a failure, not an empty host.
  if (found == 0) return ReportNoEnclosure(json, unopened, 0);
  if (json) {
    PrintJson(rows, unopened);
  } else {
    PrintTable(rows);
  }
  return 0;
}

}  // namespace raid::cli
