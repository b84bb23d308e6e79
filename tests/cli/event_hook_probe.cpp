// SPDX-License-Identifier: GPL-2.0-or-later
// The hook program of the event hook tests, on Linux and on Windows: appends the event's
// variables to the file HOOK_PROBE_RECORD names, then acts on the event's kind: fan-fail exits
// with status 3, over-heat hangs for a minute, anything else exits with 0.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "<unset>";
}

}  // namespace

int main() {
  if (const char* record = std::getenv("HOOK_PROBE_RECORD")) {
    std::ofstream(record, std::ios::app)
        << Variable("RAIDCTL_EVENT") << '|' << Variable("RAIDCTL_ENCLOSURE") << '|'
        << Variable("RAIDCTL_PORT") << '|' << Variable("RAIDCTL_LINE") << '|'
        << Variable("RAIDCTL_TIME") << '\n';
  }
  const std::string event = Variable("RAIDCTL_EVENT");
  if (event == "fan-fail") return 3;
  if (event == "over-heat") std::this_thread::sleep_for(std::chrono::minutes(1));
  return 0;
}
