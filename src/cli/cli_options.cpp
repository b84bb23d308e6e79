#include "cli/cli_options.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string_view>

namespace raid::cli {

const char* const kUsage =
    "usage: raidctl COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  discover   find the enclosures among the host's disks and list them\n"
    "  status     find the enclosures, read each array's status once and show it\n"
    "  monitor    poll the enclosures every 5 seconds, keep the daily event log and\n"
    "             print each new log line, until interrupted\n"
    "\n"
    "options:\n"
    "  --simulate FILE   use the simulated host described by the scenario FILE\n"
    "  --json            print JSON instead of a table\n"
    "  --verbose         also print the status-bar texts of the operations\n"
    "  --for SECONDS     monitor: stop after that much (simulated or real) time\n"
    "  --realtime        with --simulate: run the scenario at wall-clock speed\n"
    "  -h, --help        show this help\n";

namespace {

constexpr std::array<std::string_view, 3> kCommands = {"discover", "status", "monitor"};

}  // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  CliOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (arg == "-h" || arg == "--help") {
      parsed.help = true;
      return parsed;
    }
    if (arg == "--json") {
      options.json = true;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--simulate") {
      options.scenario = value();
      if (!options.scenario) {
        parsed.error = "--simulate needs a scenario file";
        return parsed;
      }
    } else if (arg == "--realtime") {
      options.realtime = true;
    } else if (arg == "--for") {
      const std::optional<std::string> text = value();
      char* end = nullptr;
      const double seconds = text ? std::strtod(text->c_str(), &end) : 0.0;
      if (!text || end == text->c_str() || *end != '\0' || !(seconds > 0)) {
        parsed.error = "--for needs a positive number of seconds";
        return parsed;
      }
      options.for_seconds = seconds;
    } else if (!arg.empty() && arg[0] == '-') {
      parsed.error = "unknown option " + arg;
      return parsed;
    } else if (options.command.empty()) {
      if (std::find(kCommands.begin(), kCommands.end(), arg) == kCommands.end()) {
        parsed.error = "unknown command " + arg;
        return parsed;
      }
      options.command = arg;
    } else {
      parsed.error = "unexpected argument " + arg;
      return parsed;
    }
  }
  if (options.command.empty()) {
    parsed.error = "no command given";
    return parsed;
  }
  if (options.realtime && !options.scenario) {
    parsed.error = "--realtime only applies to --simulate";
    return parsed;
  }
  if (options.for_seconds && options.command != "monitor") {
    parsed.error = "--for only applies to monitor";
    return parsed;
  }
  parsed.options = options;
  return parsed;
}

}  // namespace raid::cli
