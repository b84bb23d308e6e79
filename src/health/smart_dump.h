// SPDX-License-Identifier: GPL-2.0-or-later
// The SMART page's diagnostic dump (a double click on its countdown line): the data sectors of
// both member drives of the first enclosure, then their threshold sectors, each pair as one
// numbered file beside the program, for a support request.
#pragma once

#include <array>
#include <filesystem>

#include "firmware/spi_dump_file.h"
#include "health/smart_store.h"

namespace raid {

struct SmartDumpResult {
  SpiDumpResult data;        // "dSMARTnn.bin": HDD1's data sector, then HDD2's
  SpiDumpResult thresholds;  // "sSMARTnn.bin": the same for the threshold sectors
};

SmartDumpResult DumpSmartSectors(const std::filesystem::path& folder, const SmartStore& store);

}  // namespace raid
