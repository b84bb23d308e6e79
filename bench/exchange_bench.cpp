// SPDX-License-Identifier: GPL-2.0-or-later
// Controller exchanges against the simulated enclosure on a virtual clock: the protocol's waits
// cost nothing, so the CPU time per exchange is the program's (and the simulator's) own work.
// Each benchmark also reports how many SCSI commands reached the disk against the least the
// protocol needs for that exchange (knock reads, one separator per pair of equal neighbouring
// addresses, two reads per poll); "ratio" must be exactly 1.
#include <benchmark/benchmark.h>

#include <array>
#include <memory>

#include "device/controller_commands.h"
#include "device/exchange_gate.h"
#include "device/transport.h"
#include "sim_host.h"

namespace {

constexpr unsigned kDrive = 1;

struct Rig {
  raid::VirtualClock clock;
  std::unique_ptr<raid::sim::SimHost> host;
  raid::Transport transport{clock};
  raid::ExchangeGate gate;
  std::unique_ptr<raid::ControllerCommands> commands;

  explicit Rig(std::uint32_t answer_delay_ms) {
    raid::sim::Scenario scenario;
    raid::sim::EnclosureSpec enclosure;
    enclosure.answer_delay_ms = answer_delay_ms;
    scenario.drives[kDrive] = raid::sim::DriveSpec(enclosure);
    host = std::make_unique<raid::sim::SimHost>(std::move(scenario), clock);
    const raid::DiskRef target{kDrive | 0x40, host->OpenPhysicalDrive(kDrive)->Identity()};
    host->recorder().Clear();
    commands = std::make_unique<raid::ControllerCommands>(
        *host, transport, gate, [target] { return std::optional<raid::DiskRef>(target); });
  }
};

// The least number of reads that spell out the packet just sent.
std::size_t KnockCommands(const raid::CommandPacket& packet) {
  const auto knocks = packet.KnockList();
  std::size_t separators = 0;
  for (std::size_t i = 1; i < knocks.size(); ++i)
    separators += knocks[i] == knocks[i - 1];
  return knocks.size() + separators;
}

std::size_t Polls(const raid::sim::Recorder& recorder) {
  std::size_t polls = 0;
  for (std::uint32_t lba : recorder.ReadLbas(kDrive))
    polls += lba == raid::kResponseBlock;
  return polls;
}

void Report(benchmark::State& state, Rig& rig, std::size_t exchanges) {
  const std::size_t reads = rig.host->recorder().ReadCount(kDrive);
  const std::size_t polls = Polls(rig.host->recorder());
  const std::size_t minimum = KnockCommands(rig.transport.Packet()) * exchanges + 2 * polls;
  state.counters["commands"] = static_cast<double>(reads) / static_cast<double>(exchanges);
  state.counters["minimum"] = static_cast<double>(minimum) / static_cast<double>(exchanges);
  state.counters["ratio"] = static_cast<double>(reads) / static_cast<double>(minimum);
}

// Array-status queries to a controller that answers `answer_delay_ms` after the knock.
void RunQueries(benchmark::State& state, std::uint32_t answer_delay_ms) {
  Rig rig(answer_delay_ms);
  std::array<std::uint8_t, 512> out{};
  std::size_t exchanges = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(rig.commands->QueryController(0x17, out));
    ++exchanges;
  }
  Report(state, rig, exchanges);
  state.counters["polls"] =
      static_cast<double>(Polls(rig.host->recorder())) / static_cast<double>(exchanges);
}

// A short exchange: answered at the first poll.
void BM_ShortCommand(benchmark::State& state) {
  RunQueries(state, 0);
}
BENCHMARK(BM_ShortCommand);

// A long exchange: programming one 128-byte flash block (the knock list carries the payload).
void BM_LongCommand(benchmark::State& state) {
  Rig rig(0);
  std::array<std::uint8_t, 128> block{};
  for (std::size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<std::uint8_t>(i / 3);
  std::unique_ptr<raid::Disk> disk = rig.host->OpenPhysicalDrive(kDrive);
  std::size_t exchanges = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(rig.commands->WriteFlashBlock(*disk, 0x10000, block));
    ++exchanges;
  }
  Report(state, rig, exchanges);
}
BENCHMARK(BM_LongCommand);

// Polling: the controller answers 100 ms late, so each exchange polls eleven times.
void BM_Poll(benchmark::State& state) {
  RunQueries(state, 100);
}
BENCHMARK(BM_Poll);

}  // namespace

BENCHMARK_MAIN();
