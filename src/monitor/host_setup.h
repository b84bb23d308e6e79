// SPDX-License-Identifier: GPL-2.0-or-later
// The host of disks the program works on: this machine's real disks, or a simulated host from a
// scenario file, with the clock it runs on and the protocol trace when RAIDGUI_TRACE asks for it.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "common/clock.h"
#include "device/disk_system.h"

namespace raid::sim {
class SimHost;
}

namespace raid {

enum class HostTime {
  kReal,     // wall-clock time
  kVirtual,  // simulated: waits cost nothing and the scenario's timeline runs on it
  kScaled,   // wall-clock time running `speed` times faster (the window's demo and tests)
};

struct HostOptions {
  std::optional<std::string> scenario;  // a scenario file; none for the real disks
  HostTime time = HostTime::kReal;
  double speed = 1.0;
};

struct Host {
  std::unique_ptr<Clock> clock;
  std::unique_ptr<DiskSystem> disks;
  sim::SimHost* simulated = nullptr;  // inside `disks` when there is a scenario
  std::string trace_problem;          // why RAIDGUI_TRACE could not be followed, if it could not
};

// Empty, with `error` naming the file and what is wrong, when the scenario cannot be loaded.
std::optional<Host> CreateHost(const HostOptions& options, std::string& error);

// What the simulated controllers found wrong with what they were sent; always empty on real
// disks.
std::vector<std::string> ProtocolViolations(const Host& host);

}  // namespace raid
