// SPDX-License-Identifier: GPL-2.0-or-later
// GetSPIFWInfo: a diagnostic that writes a raw buffer (the drives' SMART sectors) to a new
// numbered file, so that a support request can carry the bytes the program saw.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/ui_sink.h"

namespace raid {

inline constexpr int kSpiDumpSmartData = 2;        // "dSMART00.bin"
inline constexpr int kSpiDumpSmartThresholds = 3;  // "sSMART00.bin"

struct SpiDumpResult {
  std::optional<std::filesystem::path> written;  // the file, once written whole and closed
  std::optional<std::string> panel_text;         // panel 4
  std::vector<MessageBoxRequest> messages;
};

// The first free name for `kind` in `folder`, advancing the eighth character through 0-9 and
// A-Z; none when every name up to 'Z' is taken or the kind has no name.
std::optional<std::filesystem::path> FreeSpiDumpPath(const std::filesystem::path& folder, int kind);

// Writes `buffer` to the first free file of `kind` in `folder` (the program's folder).
SpiDumpResult GetSPIFWInfo(const std::filesystem::path& folder, int kind, ConstBytes buffer);

}  // namespace raid
