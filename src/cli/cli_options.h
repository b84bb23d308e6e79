// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl's command line.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace raid::cli {

// What `mail-setup` changes; whatever is not given keeps its stored value.
struct MailSetupOptions {
  std::optional<std::string> host;                         // --smtp
  std::optional<std::string> port;                         // --port
  std::optional<std::string> name;                         // --name
  std::optional<std::string> from;                         // --from
  std::optional<std::string> timeout;                      // --timeout
  std::optional<bool> login;                               // --auth / --no-auth
  std::optional<std::string> user;                         // --user
  std::vector<std::string> recipients;                     // --to, repeated
  bool clear_recipients = false;                           // --no-recipients
  std::vector<std::pair<unsigned, bool>> suppress;         // --suppress / --send KIND
  std::vector<std::pair<unsigned, std::string>> subjects;  // --subject KIND TEXT
  std::vector<std::pair<unsigned, std::string>> bodies;    // --body KIND FILE
  bool Empty() const;
};

struct CliOptions {
  std::string command;                  // the name of an entry in command_table.h
  std::vector<std::string> arguments;   // firmware: check or upgrade, then the file
  std::optional<std::string> scenario;  // --simulate FILE
  bool json = false;                    // --json
  bool verbose = false;                 // --verbose
  bool realtime = false;                // --realtime: simulated host at wall-clock speed
  std::optional<double> for_seconds;    // --for SECONDS
  std::optional<std::string> metrics;   // --metrics FILE: monitor's Prometheus text file
  std::optional<unsigned> device;       // --device N: list position N - 1 ("DeviceN")
  bool yes = false;                     // --yes: upgrade without asking
  MailSetupOptions mail;                // mail-setup's options
  std::optional<std::string> exec;      // --exec PROGRAM: monitor runs it for each event
  std::optional<double> exec_timeout;   // --exec-timeout SECONDS: its limit
  std::optional<std::string> channel;   // --channel NAME: notify-test's one channel
};

struct ParsedOptions {
  std::optional<CliOptions> options;
  std::string error;  // set when options is empty and neither help nor version was asked for
  bool help = false;
  bool version = false;
};

ParsedOptions ParseOptions(const std::vector<std::string>& args);

// What --help prints; also printed after a command line that is wrong.
const std::string& Usage();

}  // namespace raid::cli
