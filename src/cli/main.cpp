// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl: the command-line front end of the enclosure monitor.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_mail.h"
#include "cli/cli_options.h"
#include "cli/cli_session.h"
#include "cli/discover_command.h"
#include "cli/event_hook.h"
#include "cli/firmware_command.h"
#include "cli/journal_stderr.h"
#include "cli/monitor_command.h"
#include "cli/service_notifier.h"
#include "cli/smart_command.h"
#include "cli/status_command.h"
#include "common/project_version.h"
#include "common/user_locale.h"

int main(int argc, char** argv) {
  using namespace raid::cli;
  raid::ApplyUserLocale();  // the log's time stamps are the user's date and time
  const std::vector<std::string> args(argv + 1, argv + argc);
  const ParsedOptions parsed = ParseOptions(args);
  if (parsed.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (parsed.version) {
    std::printf("raidctl %s\n", raid::kProjectVersion);
    return 0;
  }
  if (!parsed.options) {
    std::fprintf(stderr, "raidctl: %s\n%s", parsed.error.c_str(), kUsage);
    return 2;
  }
  const CliOptions& options = *parsed.options;
  // The service's lines carry priorities for the journal; a terminal sees them as before.
  std::optional<JournalStderr> journal;
  if (options.command == "monitor") journal.emplace();
  // The mail commands work on the settings alone, without the host's disks.
  if (options.command == "mail-setup") return RunMailSetupCommand(options.mail);
  if (options.command == "mail-show") return RunMailShowCommand(options.json);
  if (options.command == "mail-test") return RunMailTestCommand(options.verbose);
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
  // A file is checked without the host's disks unless an enclosure is named to check it for.
  if (options.command == "firmware" && options.arguments[0] == "check" && !options.device) {
    return RunFirmwareCheckCommand(nullptr, options);
  }
  std::string error;
  std::unique_ptr<CliSession> session = CliSession::Create(options, error);
  if (!session) {
    std::fprintf(stderr, "raidctl: %s\n", error.c_str());
    return 2;
  }
  int exit_code = 2;
  if (options.command == "discover") {
    exit_code = RunDiscoverCommand(*session, options.json);
  } else if (options.command == "status") {
    exit_code = RunStatusCommand(*session, options.json);
  } else if (options.command == "monitor") {
    MonitorEventOptions events{options.json, hook_program};
    if (options.exec_timeout) {
      events.exec_limit =
          std::chrono::milliseconds(std::max(1LL, std::llround(*options.exec_timeout * 1000.0)));
    }
    exit_code = RunMonitorCommand(*session, options.for_seconds, *CreatePlatformServiceNotifier(),
                                  events, options.metrics);
  } else if (options.command == "smart") {
    exit_code = RunSmartCommand(*session, options.json);
  } else if (options.command == "firmware" && options.arguments[0] == "check") {
    exit_code = RunFirmwareCheckCommand(session.get(), options);
  } else if (options.command == "firmware") {
    exit_code = RunFirmwareUpgradeCommand(*session, options);
  }
  // The simulated controllers check every command they were sent; a fault there is ours.
  const std::vector<std::string> violations = session->ProtocolViolations();
  for (const std::string& violation : violations) {
    std::fprintf(stderr, "raidctl: protocol violation: %s\n", violation.c_str());
  }
  return violations.empty() ? exit_code : 3;
}
