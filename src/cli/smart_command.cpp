// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/smart_command.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/json_output.h"
#include "cli/unopened_drives.h"
#include "health/attribute_names.h"
#include "health/smart_page_view.h"
#include "health/smart_reader.h"
#include "health/word106.h"

namespace raid::cli {
namespace {

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// One member drive as the SMART page would show it.
struct DriveReport {
  unsigned drive = 0;
  bool present = false;
  bool read_failed = false;
  std::string model;
  SmartDriveRecord record;
  SmartPageView view;
};

std::string DriveText(const DriveReport& report) {
  const std::string_view name = MemberDriveName(report.drive);
  if (!report.present) return fmt::format("  {}: absent\n", name);
  std::string text = fmt::format("  {}: {}\n", name, report.model);
  if (report.read_failed) text += "    the SMART read failed; what is shown is from before\n";
  if (!report.view.table_shown) return text + "    no SMART attributes\n";
  text += fmt::format("    {:<38}{:>6}{:>6}{:>10}  {:<14}{}\n", "ID-Attribute", "Value", "Worst",
                      "Threshold", "RAW", "Status");
  for (const SmartRow& row : report.view.rows) {
    const auto& c = row.cells;
    text +=
        fmt::format("    {:<38}{:>6}{:>6}{:>10}  {:<14}{}\n", c[0], c[1], c[2], c[3], c[4], c[5]);
  }
  text += fmt::format("    Overall: {}\n", Trimmed(report.view.overall_text));
  text += fmt::format("    {} ({})\n", Trimmed(report.view.four_k_text), report.view.four_k_hint);
  return text;
}

nlohmann::json DriveJson(const DriveReport& report) {
  nlohmann::json json = {{"name", std::string(MemberDriveName(report.drive))},
                         {"present", report.present}};
  if (!report.present) return json;
  json["model"] = report.model;
  json["read_failed"] = report.read_failed;
  nlohmann::json attributes = nlohmann::json::array();
  for (std::size_t slot = 0; slot < report.view.rows.size(); ++slot) {
    const SmartAttribute a = AttributeAt(report.record.data, report.record.thresholds, slot);
    const SmartRow& row = report.view.rows[slot];
    attributes.push_back({{"id", a.id},
                          {"name", std::string(AttributeName(a.id))},
                          {"value", a.current},
                          {"worst", a.worst},
                          {"threshold", a.threshold},
                          {"raw", row.cells[kSmartRawColumn]},
                          {"status", row.cells.back()}});
  }
  json["attributes"] = attributes;
  json["overall"] = Trimmed(report.view.overall_text);
  const FourKSectorLabel four_k = FourKSectorAnswer(report.record.word106);
  json["word106"] = report.record.word106;
  json["four_k_sectors"] = std::string(four_k.answer);
  json["four_k_hint"] = four_k.hint;
  return json;
}

}  // namespace

int RunSmartCommand(CliSession& session, bool json) {
  const unsigned found = session.DiscoverAndInstall();
  const std::vector<UnopenedDrive>& unopened = session.device().discovery().UnopenedDrives();
  SayUnopenedDrives(unopened);
  if (found == 0) return ReportNoEnclosure(json, unopened, 1);
  // As the schedule asks after installing a list: the thresholds, then the data.
  DriveSmartReader& reader = session.core().smart_reader();
  const SmartReadPass thresholds = reader.Read(kSmartThresholdsFeature);
  const SmartReadPass data = reader.Read(kSmartDataFeature);
  if (!thresholds.ran || !data.ran) {
    std::fputs("raidctl: the SMART data cannot be read now\n", stderr);
    return 1;
  }

  const EnclosureRegistry& registry = session.device().registry();
  const unsigned shown = std::min(static_cast<unsigned>(registry.current.size()), kSmartPositions);
  nlohmann::json list = nlohmann::json::array();
  int exit_code = 0;
  for (unsigned position = 0; position < shown; ++position) {
    const EnclosureInfo& info = registry.current[position];
    const ControllerStatus& status = session.monitor().Record(DriveNumberOf(info.device_code));
    nlohmann::json drives = nlohmann::json::array();
    std::string text = fmt::format("Device{} (physical drive {})\n", position + 1,
                                   DriveNumberOf(info.device_code));
    for (unsigned drive = 0; drive < kMemberDrives; ++drive) {
      DriveReport report;
      report.drive = drive;
      report.present = (status.DriveFlags() & DriveFlag(kDrivePresent, drive)) != 0;
      report.read_failed = thresholds.failed[position][drive] || data.failed[position][drive];
      report.model = status.DriveModel(drive);
      report.record = *session.core().smart_store().Snapshot(position, drive);
      report.view = BuildSmartPageView({drive, report.model, report.record});
      if (report.read_failed) exit_code = 1;
      drives.push_back(DriveJson(report));
      text += DriveText(report);
    }
    if (json) {
      list.push_back(
          {{"position", position}, {"drive", DriveNumberOf(info.device_code)}, {"drives", drives}});
    } else {
      std::fputs(text.c_str(), stdout);
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
