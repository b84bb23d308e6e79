// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl's commands, one entry each: the word that names it, its lines in the usage and what
// runs it. The parser accepts exactly these words, the usage lists them in this order and main()
// runs the entry it finds.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cli/cli_options.h"

namespace raid::cli {

class CliSession;

// What a command's handler gets.
struct CommandRun {
  const CliOptions& options;
  // The host's disks (real or simulated); null when the entry's needs_host said no.
  CliSession* session;
  // monitor --exec's program, already found on the PATH.
  const std::optional<std::string>& hook_program;
};

struct Command {
  std::string_view name;
  // The command's lines under "commands:" in the usage, each ending in a line feed.
  std::string_view usage;
  // Whether it runs on the host's disks with these options. A command that says no works on
  // the settings or a file alone and leaves the disks (and a scenario's checks) untouched.
  bool (*needs_host)(const CliOptions& options);
  // Whether it runs as a service, its stderr lines then carrying priorities for the journal.
  bool service;
  int (*run)(const CommandRun& run);
};

// Every command, in the usage's order.
std::span<const Command> Commands();
// The command named `name`, or null.
const Command* FindCommand(std::string_view name);

}  // namespace raid::cli
