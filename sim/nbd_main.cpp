// SPDX-License-Identifier: GPL-2.0-or-later
// raidsim-nbd: a scenario's drives as NBD exports on a unix socket, for a virtual machine that
// attaches them as USB disks, so that a guest's kernel and the real program reach the simulated
// controllers through a real kernel. Exit status: 0 after SIGTERM or SIGINT, 3 when a write was
// refused on the way (the program never writes), 2 for bad usage or a scenario it cannot serve.
#include <signal.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "nbd_server.h"
#include "scenario.h"
#include "sim_host.h"

namespace {

using namespace raid;
using namespace raid::sim;

const char* const kUsage =
    "usage: raidsim-nbd --scenario FILE --socket PATH [--speed X] [--timeline-on-signal]\n"
    "       raidsim-nbd --describe FILE\n"
    "\n"
    "  --scenario FILE       serve the drives of the scenario FILE, drive N as export driveN\n"
    "  --socket PATH         listen on the unix socket PATH\n"
    "  --speed X             run the timeline X times faster than real time\n"
    "  --timeline-on-signal  start the timeline when SIGUSR1 arrives, not at start\n"
    "  --describe FILE       print each drive of FILE as a JSON object, one a line, and exit\n"
    "\n"
    "SIGTERM or SIGINT stops the server; it prints the requests it was sent and exits 0, or 3\n"
    "when it refused a write.\n";

struct Options {
  std::string scenario;
  std::string socket;
  std::optional<double> speed;
  bool timeline_on_signal = false;
  bool describe = false;
};

std::optional<Options> Parse(int argc, char** argv, std::string& error) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) {
        error = arg + " needs a value";
        return std::nullopt;
      }
      return std::string(argv[++i]);
    };
    if (arg == "--timeline-on-signal") {
      options.timeline_on_signal = true;
    } else if (arg == "--scenario" || arg == "--describe" || arg == "--socket" ||
               arg == "--speed") {
      const std::optional<std::string> text = value();
      if (!text) return std::nullopt;
      if (arg == "--socket") {
        options.socket = *text;
      } else if (arg == "--speed") {
        char* end = nullptr;
        const double speed = std::strtod(text->c_str(), &end);
        if (text->empty() || *end != '\0' || !std::isfinite(speed) || speed <= 0 || speed > 1e6) {
          error = "--speed: expected a number above 0 and up to 1000000, got \"" + *text + "\"";
          return std::nullopt;
        }
        options.speed = speed;
      } else {
        if (!options.scenario.empty()) {
          error = "give one scenario, with --scenario or --describe";
          return std::nullopt;
        }
        options.scenario = *text;
        options.describe = arg == "--describe";
      }
    } else {
      error = "unknown argument " + arg;
      return std::nullopt;
    }
  }
  if (options.scenario.empty()) {
    error = "--scenario or --describe is required";
  } else if (options.describe &&
             (!options.socket.empty() || options.speed || options.timeline_on_signal)) {
    error = "--describe takes no other option";
  } else if (!options.describe && options.socket.empty()) {
    error = "--socket is required";
  } else {
    return options;
  }
  return std::nullopt;
}

void Describe(const std::vector<NbdExport>& exports) {
  for (const NbdExport& e : exports) {
    const nlohmann::ordered_json line = {
        {"drive", e.drive},
        {"export", e.name},
        {"type", e.enclosure ? "enclosure" : "disk"},
        {"vendor", e.identity.vendor},
        {"product", e.identity.product},
        {"revision", e.identity.revision},
        {"bytes", e.bytes},
    };
    // A scenario may give texts that are not UTF-8, as a device's firmware might.
    std::printf("%s\n",
                line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const std::optional<Options> options = Parse(argc, argv, error);
  if (!options) {
    std::fprintf(stderr, "raidsim-nbd: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  ScenarioParseResult loaded = LoadScenarioFile(options->scenario);
  if (!loaded.scenario) {
    std::fprintf(stderr, "raidsim-nbd: %s: %s\n", options->scenario.c_str(), loaded.error.c_str());
    return 2;
  }
  Scenario& scenario = *loaded.scenario;
  const std::vector<NbdExport> exports = ExportsOf(scenario);
  if (options->describe) {
    Describe(exports);
    return 0;
  }
  if (exports.empty()) {
    std::fprintf(stderr, "raidsim-nbd: %s has no drives to serve\n", options->scenario.c_str());
    return 2;
  }
  if (const std::optional<std::string> unservable = UnservableEvent(scenario)) {
    std::fprintf(stderr, "raidsim-nbd: %s\n", unservable->c_str());
    return 2;
  }

  // The signals are taken by sigwait below; every thread started from here on blocks them.
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal_number : {SIGTERM, SIGINT, SIGUSR1})
    sigaddset(&signals, signal_number);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<Clock> clock;
  if (options->speed || scenario.starts_at) {
    clock = std::make_unique<ScaledClock>(options->speed.value_or(1.0), scenario.starts_at);
  } else {
    clock = std::make_unique<SystemClock>();
  }
  // Held back, the timeline starts when SIGUSR1 says so, with nothing of it applied before.
  std::optional<std::vector<TimelineEvent>> held_timeline;
  if (options->timeline_on_signal) {
    held_timeline = std::move(scenario.timeline);
    scenario.timeline.clear();
  }
  SimHost host(std::move(scenario), *clock);
  // A virtual machine runs for hours: keep the recent history only.
  host.recorder().SetRetention(10000);

  NbdServer server(host, exports);
  if (!server.Listen(options->socket, error)) {
    std::fprintf(stderr, "raidsim-nbd: %s\n", error.c_str());
    return 2;
  }
  std::string names;
  for (const NbdExport& e : exports)
    names += e.name + " ";
  std::printf("raidsim-nbd: serving %son %s\n", names.c_str(), options->socket.c_str());
  std::fflush(stdout);

  for (;;) {
    int received = 0;
    if (sigwait(&signals, &received) != 0) continue;
    if (received != SIGUSR1) break;
    if (held_timeline) {
      host.StartTimeline(std::move(*held_timeline));
      held_timeline.reset();
      std::printf("raidsim-nbd: timeline started\n");
      std::fflush(stdout);
    }
  }
  server.Stop();

  const NbdRequestCounts counts = server.Counts();
  std::printf(
      "raidsim-nbd: requests: read %llu, write %llu, trim %llu, write-zeroes %llu, flush %llu, "
      "disconnect %llu, other %llu\n",
      static_cast<unsigned long long>(counts.read), static_cast<unsigned long long>(counts.write),
      static_cast<unsigned long long>(counts.trim),
      static_cast<unsigned long long>(counts.write_zeroes),
      static_cast<unsigned long long>(counts.flush),
      static_cast<unsigned long long>(counts.disconnect),
      static_cast<unsigned long long>(counts.other));
  for (const NbdControllerCounts& controller : server.ControllerCounts()) {
    std::printf("raidsim-nbd: drive%u: packets %llu, decode errors %llu, violations %llu\n",
                controller.drive, static_cast<unsigned long long>(controller.packets),
                static_cast<unsigned long long>(controller.decode_errors),
                static_cast<unsigned long long>(controller.violations));
  }
  std::fflush(stdout);
  // The latest of them, as many as the recorder keeps.
  for (const DecodeError& decode_error : host.recorder().DecodeErrors()) {
    std::fprintf(stderr, "raidsim-nbd: drive%u: decode error: %s\n", decode_error.drive,
                 decode_error.text.c_str());
  }
  for (const std::string& violation : host.recorder().ViolationTexts()) {
    std::fprintf(stderr, "raidsim-nbd: protocol violation: %s\n", violation.c_str());
  }
  if (counts.refused() != 0) {
    std::fprintf(stderr,
                 "raidsim-nbd: %llu write, trim or write-zeroes requests refused; the program "
                 "never writes\n",
                 static_cast<unsigned long long>(counts.refused()));
    return 3;
  }
  return 0;
}
