// SPDX-License-Identifier: GPL-2.0-or-later
// Drives a command could not open. "No enclosure found" is only true of the drives that could
// be opened: every command names the others, with the reason and what to do about it, so that
// nobody takes "no permission" for "the array is gone".
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "device/discovery.h"

namespace raid::cli {

inline constexpr const char* kNoEnclosureAmongOpenedText =
    "No enclosure found among the drives that could be opened.";

// "permission denied", "in use by another program" or "could not be opened".
std::string OpenFailureReason(OpenFailure failure);

// One stderr line per drive, then one with the hint on rights unless every drive is only in use;
// nothing when `drives` is empty.
void SayUnopenedDrives(const std::vector<UnopenedDrive>& drives);

// [{"drive": 0, "reason": "permission denied"}, ...]
nlohmann::json UnopenedDrivesJson(const std::vector<UnopenedDrive>& drives);

// What a command prints when it found no enclosure (stdout, JSON or text), and its exit status:
// 1 when a drive could not be opened, else `empty_host_exit`.
int ReportNoEnclosure(bool json, const std::vector<UnopenedDrive>& drives, int empty_host_exit);

// Adds "not_opened" to a command's JSON document when drives were skipped.
void AddUnopenedDrives(nlohmann::json& document, const std::vector<UnopenedDrive>& drives);

// The end of the service's status line: "; 3 drives could not be opened", or empty.
std::string UnopenedStatusText(std::size_t count);

}  // namespace raid::cli
