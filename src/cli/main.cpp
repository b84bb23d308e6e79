// raidctl: the command-line front end of the enclosure monitor.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_session.h"
#include "cli/discover_command.h"
#include "cli/monitor_command.h"
#include "cli/status_command.h"

int main(int argc, char** argv) {
  using namespace raid::cli;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const ParsedOptions parsed = ParseOptions(args);
  if (parsed.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!parsed.options) {
    std::fprintf(stderr, "raidctl: %s\n%s", parsed.error.c_str(), kUsage);
    return 2;
  }
  const CliOptions& options = *parsed.options;
  std::string error;
  std::unique_ptr<CliSession> session = CliSession::Create(options, error);
  if (!session) {
    std::fprintf(stderr, "raidctl: %s\n", error.c_str());
    return 2;
  }
  if (options.command == "discover") return RunDiscoverCommand(*session, options.json);
  if (options.command == "status") return RunStatusCommand(*session, options.json);
  if (options.command == "monitor") return RunMonitorCommand(*session, options.for_seconds);
  std::fprintf(stderr, "raidctl: unknown command %s\n", options.command.c_str());
  return 2;
}
