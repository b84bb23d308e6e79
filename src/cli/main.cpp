// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl: the command-line front end of the enclosure monitor.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_session.h"
#include "cli/command_table.h"
#include "cli/event_hook.h"
#include "cli/platform.h"
#include "common/project_version.h"
#include "common/user_locale.h"

int main(int argc, char** argv) {
  using namespace raid::cli;
  raid::ApplyUserLocale();  // the log's time stamps are the user's date and time
  const std::vector<std::string> args(argv + 1, argv + argc);
  const ParsedOptions parsed = ParseOptions(args);
  if (parsed.help) {
    std::fputs(Usage().c_str(), stdout);
    return 0;
  }
  if (parsed.version) {
    std::printf("raidctl %s\n", raid::kProjectVersion);
    return 0;
  }
  if (!parsed.options) {
    std::fprintf(stderr, "raidctl: %s\n%s", parsed.error.c_str(), Usage().c_str());
    return 2;
  }
  const CliOptions& options = *parsed.options;
  // The parser accepts only the table's names.
  const Command& command = *FindCommand(options.command);
  // The service's lines carry priorities for the journal; a terminal sees them as before.
  std::optional<JournalStderr> journal;
  if (command.service) journal.emplace();
  // A hook that cannot run is refused before anything starts.
  std::optional<std::string> hook_program;
  if (options.exec) {
    std::string why;
    hook_program = FindHookProgram(*options.exec, why);
    if (!hook_program) {
      std::fprintf(stderr, "raidctl: --exec: %s\n", why.c_str());
      return 2;
    }
  }
  if (!command.needs_host(options)) return command.run({options, nullptr, hook_program});
  std::string error;
  std::unique_ptr<CliSession> session = CliSession::Create(options, error);
  if (!session) {
    std::fprintf(stderr, "raidctl: %s\n", error.c_str());
    return 2;
  }
  const int exit_code = command.run({options, session.get(), hook_program});
  // The simulated controllers check every command they were sent; a fault there is ours.
  const std::vector<std::string> violations = session->ProtocolViolations();
  for (const std::string& violation : violations) {
    std::fprintf(stderr, "raidctl: protocol violation: %s\n", violation.c_str());
  }
  return violations.empty() ? exit_code : 3;
}
