#include "cli/monitor_command.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

namespace raid::cli {
namespace {

constexpr std::uint64_t kPollIntervalMs = 5000;
constexpr std::uint32_t kSleepSliceMs = 100;

std::atomic<bool> g_stop_requested{false};

extern "C" void RequestStop(int) {
  g_stop_requested.store(true);
}

const char* AlertName(AlertKind kind) {
  switch (kind) {
    case AlertKind::kHardDisksFail:
      return "Hard Disks Fail";
    case AlertKind::kDeviceRemoved:
      return "Device Removed";
    case AlertKind::kOverHeat:
      return "Over Heat";
    case AlertKind::kFanFail:
      return "Fan Fail";
  }
  return "?";
}

void EchoNewLines(CliSession& session) {
  const std::vector<std::string>& lines = session.log().lines;
  const std::size_t added = session.detector().LinesAddedByLastCall();
  for (std::size_t i = lines.size() - added; i < lines.size(); ++i) {
    std::fputs((lines[i] + "\n").c_str(), stdout);
  }
  std::fflush(stdout);
  for (const AlertRequest& alert : session.alerts().Take()) {
    std::fprintf(stderr, "raidctl: alert \"%s\" for Device%u, port %u\n", AlertName(alert.kind),
                 alert.enclosure_index + 1, alert.port);
  }
}

// Waits until `deadline` on the session's clock, waking up for a stop request. Simulated time
// costs nothing, so there a short real pause keeps an endless run from spinning the processor.
void WaitUntil(CliSession& session, std::uint64_t deadline) {
  Clock& clock = session.clock();
  while (!g_stop_requested.load() && clock.NowMs() < deadline) {
    const std::uint64_t left = deadline - clock.NowMs();
    clock.SleepMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(left, kSleepSliceMs)));
  }
  if (session.virtual_time()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

int RunMonitorCommand(CliSession& session, std::optional<double> for_seconds) {
  g_stop_requested.store(false);
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);

  Clock& clock = session.clock();
  const std::uint64_t start = clock.NowMs();
  const std::uint64_t end =
      for_seconds ? start + static_cast<std::uint64_t>(*for_seconds * 1000.0) : UINT64_MAX;
  std::fprintf(stderr, "raidctl: daily log in %s\n", session.log_store().folder().string().c_str());

  session.DiscoverAndInstall();
  if (session.device().registry().current.empty()) {
    std::fputs("No enclosure found; waiting for one.\n", stderr);
  }
  for (std::uint64_t next = start; !g_stop_requested.load(); next += kPollIntervalMs) {
    if (next > end) break;
    WaitUntil(session, next);
    if (g_stop_requested.load()) break;
    if (session.DriveCountsChanged()) session.DiscoverAndInstall();
    if (session.monitor().RefreshStatus()) EchoNewLines(session);
  }
  if (session.detector().Unsaved()) {
    std::fprintf(stderr, "raidctl: the daily log could not be saved: %s\n",
                 session.log_store().last_error().c_str());
    return 1;
  }
  return 0;
}

}  // namespace raid::cli
