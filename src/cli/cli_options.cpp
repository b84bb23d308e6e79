// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/cli_options.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_table.h"
#include "common/decimal_text.h"
#include "common/shared_state.h"

namespace raid::cli {
namespace {

// The usage around the commands' lines, which the command table gives.
constexpr std::string_view kUsageStart =
    "usage: raidctl COMMAND [options]\n"
    "\n"
    "commands:\n";
constexpr std::string_view kUsageOptions =
    "\n"
    "options:\n"
    "  --simulate FILE   use the simulated host described by the scenario FILE\n"
    "  --json            print JSON instead of a table (monitor: a JSON object per\n"
    "                    event, one a line, instead of the log lines)\n"
    "  --verbose         also print the status-bar texts of the operations\n"
    "  --for SECONDS     monitor: stop after that much (simulated or real) time,\n"
    "                    from 0.001 to 315360000 (ten years)\n"
    "  --metrics FILE    monitor: after each poll, replace FILE with the enclosures'\n"
    "                    state in the Prometheus text format (for the node exporter's\n"
    "                    textfile collector)\n"
    "  --realtime        with --simulate: run the scenario at wall-clock speed\n"
    "  --device N        firmware: DeviceN, as listed by discover (N from 1 to 10)\n"
    "  --yes             firmware upgrade: do not ask; needed without a terminal\n"
    "  --exec PROGRAM    monitor: run PROGRAM (no shell, no arguments) for each event,\n"
    "                    described in RAIDCTL_EVENT, RAIDCTL_ENCLOSURE, RAIDCTL_PORT,\n"
    "                    RAIDCTL_LINE and RAIDCTL_TIME\n"
    "  --exec-timeout SECONDS  monitor: stop PROGRAM after that long, from 1 to 86400\n"
    "                    (default 30)\n"
    "  --channel NAME    notify-test: only the push channel of that name\n"
    "  -h, --help        show this help\n"
    "  --version         print raidctl's name and version\n"
    "\n"
    "mail-setup options (anything not given keeps its value):\n"
    "  --smtp HOST --port N --timeout SECONDS   the e-mail host (SMTP); N from 1 to\n"
    "                          65535, SECONDS from 0 to 99 (0: 30 seconds)\n"
    "  --name NAME --from ADDRESS                the sender\n"
    "  --auth --user ACCOUNT   log in; the password is read from standard input\n"
    "  --no-auth               do not log in\n"
    "  --to ADDRESS            a recipient; repeat for up to ten, they replace the list\n"
    "  --no-recipients         remove every recipient\n"
    "  --suppress KIND / --send KIND   no mail / mail for that alert kind\n"
    "  --subject KIND TEXT     the kind's subject line (empty: none)\n"
    "  --body KIND FILE        the kind's contents, from FILE (empty file: none)\n"
    "  KIND is disk-fail (1) or device-removed (2)\n";

// Ten years: longer than any monitor runs unattended, and still exact in milliseconds.
constexpr double kMaxForSeconds = 315360000;
constexpr double kMinForSeconds = 0.001;
constexpr double kMaxExecSeconds = 86400;

// The alert kinds the mail settings edit: 1 and 2.
std::optional<unsigned> MailKind(const std::string& text) {
  if (text == "1" || text == "disk-fail") return 1;
  if (text == "2" || text == "device-removed") return 2;
  return std::nullopt;
}

// One mail-setup option at args[i] (its values after it); false when `arg` is none. `error`
// is set for a mail option used wrongly.
bool ParseMailOption(const std::vector<std::string>& args, std::size_t& i, MailSetupOptions& mail,
                     std::string& error) {
  const std::string& arg = args[i];
  const auto value = [&]() -> std::optional<std::string> {
    if (i + 1 >= args.size()) {
      error = arg + " needs a value";
      return std::nullopt;
    }
    return args[++i];
  };
  const auto kind = [&]() -> std::optional<unsigned> {
    const std::optional<std::string> text = value();
    if (!text) return std::nullopt;
    const std::optional<unsigned> parsed = MailKind(*text);
    if (!parsed) error = arg + ": the kind is disk-fail (1) or device-removed (2), not " + *text;
    return parsed;
  };
  const std::array<std::pair<std::string_view, std::optional<std::string>*>, 6> texts = {{
      {"--smtp", &mail.host},
      {"--port", &mail.port},
      {"--name", &mail.name},
      {"--from", &mail.from},
      {"--timeout", &mail.timeout},
      {"--user", &mail.user},
  }};
  for (const auto& [name, field] : texts) {
    if (arg == name) {
      *field = value();
      return true;
    }
  }
  if (arg == "--auth" || arg == "--no-auth") {
    mail.login = arg == "--auth";
  } else if (arg == "--to") {
    if (const std::optional<std::string> address = value()) mail.recipients.push_back(*address);
  } else if (arg == "--no-recipients") {
    mail.clear_recipients = true;
  } else if (arg == "--suppress" || arg == "--send") {
    if (const std::optional<unsigned> k = kind())
      mail.suppress.emplace_back(*k, arg == "--suppress");
  } else if (arg == "--subject" || arg == "--body") {
    const std::optional<unsigned> k = kind();
    if (!k) return true;
    const std::optional<std::string> text = value();
    if (!text) return true;
    (arg == "--subject" ? mail.subjects : mail.bodies).emplace_back(*k, *text);
  } else {
    return false;
  }
  return true;
}

// What is wrong with the firmware command's words and options, or nothing.
std::string FirmwareOptionsError(const CliOptions& options) {
  if (options.command != "firmware") {
    if (options.device || options.yes) return "--device and --yes only apply to firmware";
    return "";
  }
  const bool check = !options.arguments.empty() && options.arguments[0] == "check";
  const bool upgrade = !options.arguments.empty() && options.arguments[0] == "upgrade";
  if (!check && !upgrade) return "firmware needs check or upgrade";
  if (options.arguments.size() < 2) return "firmware " + options.arguments[0] + " needs a file";
  if (upgrade && !options.device) return "firmware upgrade needs --device N";
  if (check && options.yes) return "--yes only applies to firmware upgrade";
  if (options.json) return "--json does not apply to firmware";
  return "";
}

// --exec PROGRAM or --exec-timeout SECONDS, with `text` its value; what is wrong, or nothing.
std::string ParseExecOption(const std::string& arg, const std::optional<std::string>& text,
                            CliOptions& options) {
  if (arg == "--exec") {
    if (!text || text->empty()) return "--exec needs a program";
    options.exec = *text;
    return "";
  }
  // A day bounds it: no hook needs longer, and the milliseconds stay countable.
  const std::optional<double> seconds =
      text ? ParseNumberInRange(*text, 1, kMaxExecSeconds) : std::nullopt;
  if (!seconds) return "--exec-timeout needs a number of seconds from 1 to 86400";
  options.exec_timeout = *seconds;
  return "";
}

}  // namespace

const std::string& Usage() {
  static const std::string usage = [] {
    std::string text(kUsageStart);
    for (const Command& command : Commands())
      text += command.usage;
    text += kUsageOptions;
    return text;
  }();
  return usage;
}

bool MailSetupOptions::Empty() const {
  return !host && !port && !name && !from && !timeout && !login && !user && recipients.empty() &&
         !clear_recipients && suppress.empty() && subjects.empty() && bodies.empty();
}

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  CliOptions options;
  // Options that take one value: given twice, which one was meant is not known.
  static constexpr std::array<std::string_view, 15> kOnce = {
      "--simulate",     "--for",  "--metrics", "--device",  "--exec",
      "--exec-timeout", "--smtp", "--port",    "--name",    "--from",
      "--timeout",      "--user", "--auth",    "--no-auth", "--channel"};
  std::vector<std::string_view> given;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (std::find(kOnce.begin(), kOnce.end(), arg) != kOnce.end()) {
      const std::string_view once = arg == "--no-auth" ? "--auth" : std::string_view(arg);
      if (std::find(given.begin(), given.end(), once) != given.end()) {
        parsed.error = arg == "--auth" || arg == "--no-auth"
                           ? "--auth and --no-auth are given together, or one twice"
                           : arg + " is given twice";
        return parsed;
      }
      given.push_back(once);
    }
    const auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (arg == "-h" || arg == "--help") {
      parsed.help = true;
      return parsed;
    }
    if (arg == "--version") {
      parsed.version = true;
      return parsed;
    }
    std::string mail_error;
    if (ParseMailOption(args, i, options.mail, mail_error)) {
      if (!mail_error.empty()) {
        parsed.error = mail_error;
        return parsed;
      }
      continue;
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
      const std::optional<double> seconds =
          text ? ParseNumberInRange(*text, kMinForSeconds, kMaxForSeconds) : std::nullopt;
      if (!seconds) {
        parsed.error = "--for needs a number of seconds from 0.001 to 315360000 (ten years)";
        return parsed;
      }
      options.for_seconds = *seconds;
    } else if (arg == "--metrics") {
      options.metrics = value();
      if (!options.metrics || options.metrics->empty()) {
        parsed.error = "--metrics needs a file";
        return parsed;
      }
    } else if (arg == "--device") {
      const std::optional<std::string> text = value();
      const unsigned device =
          text && text->size() <= 2 && text->find_first_not_of("0123456789") == std::string::npos
              ? static_cast<unsigned>(std::stoul("0" + *text))
              : 0;
      if (device < 1 || device > kMaxEnclosures) {
        parsed.error = "--device needs a number from 1 to 10 (DeviceN, as listed by discover)";
        return parsed;
      }
      options.device = device;
    } else if (arg == "--yes") {
      options.yes = true;
    } else if (arg == "--channel") {
      options.channel = value();
      if (!options.channel || options.channel->empty()) {
        parsed.error = "--channel needs the name of a channel in notify.toml";
        return parsed;
      }
    } else if (arg == "--exec" || arg == "--exec-timeout") {
      if (const std::string error = ParseExecOption(arg, value(), options); !error.empty()) {
        parsed.error = error;
        return parsed;
      }
    } else if (!arg.empty() && arg[0] == '-') {
      parsed.error = "unknown option " + arg;
      return parsed;
    } else if (options.command.empty()) {
      if (FindCommand(arg) == nullptr) {
        parsed.error = "unknown command " + arg;
        return parsed;
      }
      options.command = arg;
    } else if (options.command == "firmware" && options.arguments.size() < 2) {
      options.arguments.push_back(arg);
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
  if (!options.mail.Empty() && options.command != "mail-setup") {
    parsed.error = "the mail settings options only apply to mail-setup";
    return parsed;
  }
  if (options.mail.clear_recipients && !options.mail.recipients.empty()) {
    parsed.error = "--no-recipients and --to exclude each other";
    return parsed;
  }
  if (options.channel && options.command != "notify-test") {
    parsed.error = "--channel only applies to notify-test";
    return parsed;
  }
  if ((options.command.rfind("mail-", 0) == 0 || options.command.rfind("notify-", 0) == 0) &&
      (options.scenario || options.realtime)) {
    parsed.error = "--simulate only applies to discover, status, monitor, smart and firmware";
    return parsed;
  }
  if (options.for_seconds && options.command != "monitor") {
    parsed.error = "--for only applies to monitor";
    return parsed;
  }
  if (options.metrics && options.command != "monitor") {
    parsed.error = "--metrics only applies to monitor";
    return parsed;
  }
  if ((options.exec || options.exec_timeout) && options.command != "monitor") {
    parsed.error = "--exec and --exec-timeout only apply to monitor";
    return parsed;
  }
  if (options.exec_timeout && !options.exec) {
    parsed.error = "--exec-timeout only applies with --exec";
    return parsed;
  }
  if (const std::string error = FirmwareOptionsError(options); !error.empty()) {
    parsed.error = error;
    return parsed;
  }
  parsed.options = options;
  return parsed;
}

}  // namespace raid::cli
