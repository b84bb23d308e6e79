// SPDX-License-Identifier: GPL-2.0-or-later
#include "health/smart_verdict.h"

#include <algorithm>
#include <array>

namespace raid {
namespace {

constexpr std::uint8_t kVerdictMinor = 1;
constexpr std::uint8_t kVerdictPending = 2;  // a pending sector weighs two minor findings
constexpr std::uint8_t kWarningFrom = 2;

// The IDs AttributeVerdict judges, in its order.
constexpr std::array<std::uint8_t, 10> kJudgedIds = {0x05, 0x07, 0x08, 0x0A, 0x0B,
                                                     0xBE, 0xC4, 0xC6, 0xC7, 0xC5};

bool BelowThreshold(const SmartAttribute& a) {
  return a.worst < a.threshold;
}

}  // namespace

std::uint8_t AttributeVerdict(const SmartAttribute& a) {
  switch (a.id) {
    case 0x05:  // reallocated sectors
      if (BelowThreshold(a)) return kVerdictError;
      return a.raw != 0 ? kVerdictMinor : kVerdictGood;
    case 0x07:  // seek errors
    case 0x08:  // seek timer
      return BelowThreshold(a) ? kVerdictError : kVerdictGood;
    case 0x0A:  // spin-up retries
      if (BelowThreshold(a)) return kVerdictError;
      return a.raw != 0 ? kVerdictAlert : kVerdictGood;
    case 0x0B:  // calibration retries
      return a.raw != 0 ? kVerdictAlert : kVerdictGood;
    case 0xBE:  // airflow temperature: too warm is an alert, never an error
      return BelowThreshold(a) ? kVerdictAlert : kVerdictGood;
    case 0xC4:  // reallocation events
    case 0xC6:  // offline uncorrectable
    case 0xC7:  // interface CRC errors
      return a.raw != 0 ? kVerdictMinor : kVerdictGood;
    case 0xC5:  // pending sectors
      return a.raw != 0 ? kVerdictPending : kVerdictGood;
    default:
      return kVerdictGood;
  }
}

bool HasVerdictRule(std::uint8_t id) {
  return std::find(kJudgedIds.begin(), kJudgedIds.end(), id) != kJudgedIds.end();
}

std::uint8_t AccumulateVerdict(std::uint8_t drive, std::uint8_t attribute) {
  if ((drive & kVerdictError) == 0) {
    if (attribute == kVerdictError) {
      drive = kVerdictError;
    } else if (attribute == kVerdictMinor || attribute == kVerdictPending) {
      drive = static_cast<std::uint8_t>(drive + attribute);
    }
  }
  return drive < attribute ? attribute : drive;
}

std::string_view AttributeVerdictText(std::uint8_t verdict) {
  if (verdict == kVerdictError) return "Error";
  return verdict != kVerdictGood ? "Alert" : "Good";
}

RowColour AttributeRowColour(std::uint8_t verdict) {
  if (verdict == kVerdictError) return RowColour::kRed;
  return verdict != kVerdictGood ? RowColour::kYellow : RowColour::kWhite;
}

std::string_view DriveVerdictText(std::uint8_t drive) {
  if (drive & kVerdictError) return " Error ";
  return drive < kWarningFrom ? " Good " : " Warning ";
}

VerdictColour DriveVerdictColour(std::uint8_t drive) {
  if (drive & kVerdictError) return VerdictColour::kRed;
  return drive < kWarningFrom ? VerdictColour::kBlack : VerdictColour::kMaroon;
}

}  // namespace raid
