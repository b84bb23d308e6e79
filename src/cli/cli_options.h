// raidctl's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace raid::cli {

struct CliOptions {
  std::string command;                  // discover, status, monitor
  std::optional<std::string> scenario;  // --simulate FILE
  bool json = false;                    // --json
  bool verbose = false;                 // --verbose
  bool realtime = false;                // --realtime: simulated host at wall-clock speed
  std::optional<double> for_seconds;    // --for SECONDS
};

struct ParsedOptions {
  std::optional<CliOptions> options;
  std::string error;  // set when options is empty and help was not asked for
  bool help = false;
};

ParsedOptions ParseOptions(const std::vector<std::string>& args);

extern const char* const kUsage;

}  // namespace raid::cli
