// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/unopened_drives.h"

#include <algorithm>
#include <cstdio>

#include "cli/json_output.h"

namespace raid::cli {
namespace {

#ifdef _WIN32
constexpr const char* kRightsHint =
    "opening the disks needs an administrator: run raidctl from an elevated prompt or as a "
    "service of LocalSystem (see README, \"Rights on Windows\")";
#else
constexpr const char* kRightsHint =
    "reading the disks needs membership of the disk group or a udev rule for the enclosures "
    "(see README, \"Rights on Linux\")";
#endif

}  // namespace

std::string OpenFailureReason(OpenFailure failure) {
  switch (failure) {
    case OpenFailure::kAccessDenied:
      return "permission denied";
    case OpenFailure::kInUse:
      return "in use by another program";
    default:
      return "could not be opened";
  }
}

void SayUnopenedDrives(const std::vector<UnopenedDrive>& drives) {
  if (drives.empty()) return;
  for (const UnopenedDrive& drive : drives) {
    std::fprintf(stderr, "raidctl: physical drive %u was skipped: %s\n", drive.drive,
                 OpenFailureReason(drive.failure).c_str());
  }
  // Rights do not help a drive that another program holds.
  if (std::any_of(drives.begin(), drives.end(), [](const UnopenedDrive& drive) {
        return drive.failure != OpenFailure::kInUse;
      })) {
    std::fprintf(stderr, "raidctl: %s\n", kRightsHint);
  }
}

nlohmann::json UnopenedDrivesJson(const std::vector<UnopenedDrive>& drives) {
  nlohmann::json list = nlohmann::json::array();
  for (const UnopenedDrive& drive : drives)
    list.push_back({{"drive", drive.drive}, {"reason", OpenFailureReason(drive.failure)}});
  return list;
}

void AddUnopenedDrives(nlohmann::json& document, const std::vector<UnopenedDrive>& drives) {
  if (!drives.empty()) document["not_opened"] = UnopenedDrivesJson(drives);
}

int ReportNoEnclosure(bool json, const std::vector<UnopenedDrive>& drives, int empty_host_exit) {
  if (json) {
    nlohmann::json document = {{"enclosures", nlohmann::json::array()}};
    AddUnopenedDrives(document, drives);
    std::fputs(JsonDocumentText(document).c_str(), stdout);
  } else {
    std::puts(drives.empty() ? "No enclosure found." : kNoEnclosureAmongOpenedText);
  }
  return drives.empty() ? empty_host_exit : 1;
}

std::string UnopenedStatusText(std::size_t count) {
  if (count == 0) return "";
  return "; " + std::to_string(count) + (count == 1 ? " drive" : " drives") +
         " could not be opened";
}

}  // namespace raid::cli
