// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/command_table.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>

#include "cli/cli_mail.h"
#include "cli/cli_session.h"
#include "cli/discover_command.h"
#include "cli/firmware_command.h"
#include "cli/monitor_command.h"
#include "cli/notify_command.h"
#include "cli/platform.h"
#include "cli/smart_command.h"
#include "cli/status_command.h"

namespace raid::cli {
namespace {

bool Always(const CliOptions&) {
  return true;
}

bool Never(const CliOptions&) {
  return false;
}

bool FirmwareCheck(const CliOptions& options) {
  return options.arguments[0] == "check";
}

int RunMonitor(const CommandRun& run) {
  const CliOptions& options = run.options;
  MonitorEventOptions events{options.json, run.hook_program};
  if (options.exec_timeout) {
    events.exec_limit =
        std::chrono::milliseconds(std::max(1LL, std::llround(*options.exec_timeout * 1000.0)));
  }
  return RunMonitorCommand(*run.session, options.for_seconds, *CreatePlatformServiceNotifier(),
                           events, options.metrics);
}

constexpr std::array kCommands = {
    Command{.name = "discover",
            .usage = "  discover   find the enclosures among the host's disks and list them\n",
            .needs_host = Always,
            .service = false,
            .run =
                [](const CommandRun& run) {
                  return RunDiscoverCommand(*run.session, run.options.json);
                }},
    Command{
        .name = "status",
        .usage = "  status     find the enclosures, read each array's status once and show it\n",
        .needs_host = Always,
        .service = false,
        .run =
            [](const CommandRun& run) { return RunStatusCommand(*run.session, run.options.json); }},
    Command{.name = "monitor",
            .usage =
                "  monitor    poll the enclosures every 5 seconds, keep the daily event log and\n"
                "             print each new log line and mail the alerts, until interrupted\n",
            .needs_host = Always,
            .service = true,
            .run = RunMonitor},
    Command{
        .name = "smart",
        .usage =
            "  smart      find the enclosures, read their member drives' SMART attributes and\n"
            "             thresholds once and show each drive's table, verdict and 4K answer\n",
        .needs_host = Always,
        .service = false,
        .run =
            [](const CommandRun& run) { return RunSmartCommand(*run.session, run.options.json); }},
    Command{.name = "firmware",
            .usage =
                "  firmware check FILE [--device N]\n"
                "             check a controller firmware file as the Upgrade page loads it; with\n"
                "             --device, also against that enclosure\n"
                "  firmware upgrade FILE --device N [--yes]\n"
                "             write the firmware file to the controller's flash of DeviceN, after\n"
                "             asking for \"yes\" on the terminal unless --yes is given\n",
            // A file is checked without the host's disks unless an enclosure is named to check it
            // for.
            .needs_host = [](const CliOptions& options) -> bool {
              return !FirmwareCheck(options) || options.device;
            },
            .service = false,
            .run =
                [](const CommandRun& run) {
                  return FirmwareCheck(run.options)
                             ? RunFirmwareCheckCommand(run.session, run.options)
                             : RunFirmwareUpgradeCommand(*run.session, run.options);
                }},
    // The mail commands work on the settings alone, without the host's disks.
    Command{.name = "mail-setup",
            .usage = "  mail-setup  change the alert mail settings (the E-mail page's OK)\n",
            .needs_host = Never,
            .service = false,
            .run = [](const CommandRun& run) { return RunMailSetupCommand(run.options.mail); }},
    Command{.name = "mail-show",
            .usage = "  mail-show   print the alert mail settings, without the password\n",
            .needs_host = Never,
            .service = false,
            .run = [](const CommandRun& run) { return RunMailShowCommand(run.options.json); }},
    Command{.name = "mail-test",
            .usage = "  mail-test   send the test mail to the sender's own address and print the\n"
                     "             server's answer\n",
            .needs_host = Never,
            .service = false,
            .run = [](const CommandRun& run) { return RunMailTestCommand(run.options.verbose); }},
    // The push channels of notify.toml, without the host's disks too.
    Command{.name = "notify-show",
            .usage = "  notify-show  list the push channels of notify.toml, secrets masked\n",
            .needs_host = Never,
            .service = false,
            .run = [](const CommandRun& run) { return RunNotifyShowCommand(run.options.json); }},
    Command{.name = "notify-test",
            .usage = "  notify-test  send one test notification to each push channel (or the one\n"
                     "             --channel names), without retries, and print what each\n"
                     "             service answered\n",
            .needs_host = Never,
            .service = false,
            .run = [](const CommandRun& run) { return RunNotifyTestCommand(run.options.channel); }},
};

// Each entry's usage starts with its name, two spaces in, and ends with a line feed.
constexpr bool UsageNamesItsCommand(const Command& command) {
  const std::string_view usage = command.usage;
  return usage.starts_with("  ") && usage.substr(2).starts_with(command.name) &&
         usage.size() > command.name.size() + 2 && usage[command.name.size() + 2] == ' ' &&
         usage.ends_with('\n');
}
static_assert(std::ranges::all_of(kCommands, UsageNamesItsCommand));

}  // namespace

std::span<const Command> Commands() {
  return kCommands;
}

const Command* FindCommand(std::string_view name) {
  const auto found = std::ranges::find(kCommands, name, &Command::name);
  return found != kCommands.end() ? &*found : nullptr;
}

}  // namespace raid::cli
