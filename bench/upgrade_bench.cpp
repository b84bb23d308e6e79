// SPDX-License-Identifier: GPL-2.0-or-later
// The firmware upgrade of a 64 KiB image on a simulated bridge whose every READ(10) takes 0.5 ms
// (a USB 2.0 bridge), on the virtual clock. The protocol itself sets the least time it can
// take: every READ(10) that erase, program and verify need (each packet's knock reads with a
// separator between equal neighbours, then one answer poll of two reads) at 0.5 ms each, plus
// the 10 ms pause after each poll. Reported: the simulated duration against that bound (target
// ratio 1.00), and the CPU time spent, the simulator's included, as a share of the simulated
// duration (target below 1 %). Exit status 1 when a target is missed.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "device/command_packet.h"
#include "device/device_access.h"
#include "firmware/upgrade_extent.h"
#include "firmware/upgrade_firmware.h"
#include "sim_host.h"
#include "spi_flash.h"

namespace {

constexpr unsigned kDrive = 1;
constexpr std::uint32_t kImageSize = 64 * 1024;
constexpr std::uint32_t kReadLatencyUs = 500;
constexpr double kRatioTolerance = 0.005;
constexpr double kCpuShareTarget = 0.01;

// The wire opcodes of the flash commands, as ControllerCommands sends them.
constexpr std::uint8_t kOpReadFlash = 0x20;
constexpr std::uint8_t kOpEraseFlash = 0x23;
constexpr std::uint8_t kOpWriteFlash = 0x25;
constexpr std::uint8_t kFlashSelector = 0x01;

struct Bound {
  std::uint64_t exchanges = 0;
  std::uint64_t reads = 0;
};

// The reads of one exchange answered at its first poll.
std::uint64_t ExchangeReads(std::uint8_t direction, std::uint8_t opcode, std::uint32_t address,
                            std::span<const std::uint8_t> payload) {
  raid::CommandPacket packet;
  const std::uint32_t block = address / raid::kFlashBlockSize;
  packet.Fill(direction, opcode, kFlashSelector, static_cast<std::uint8_t>(block >> 8),
              static_cast<std::uint8_t>(block & 0xFF), payload);
  const auto knocks = packet.KnockList();
  std::uint64_t reads = knocks.size() + 2;  // the poll: separator and response block
  for (std::size_t i = 1; i < knocks.size(); ++i)
    reads += knocks[i] == knocks[i - 1];
  return reads;
}

Bound ProtocolBound(const std::vector<std::uint8_t>& image) {
  Bound bound;
  const auto add = [&](std::uint64_t reads) {
    ++bound.exchanges;
    bound.reads += reads;
  };
  const std::uint64_t erase_length = raid::EraseLength(image.size());
  for (std::uint32_t address = 0; address < erase_length; address += raid::kFlashSectorSize)
    add(ExchangeReads(raid::kDirectionOut, kOpEraseFlash, address, {}));
  for (std::uint32_t address = 0; address < image.size(); address += raid::kFlashBlockSize) {
    std::array<std::uint8_t, raid::kFlashBlockSize> block;
    block.fill(0xFF);
    const std::size_t length = std::min<std::size_t>(block.size(), image.size() - address);
    std::copy_n(image.begin() + address, length, block.begin());
    add(ExchangeReads(raid::kDirectionOut, kOpWriteFlash, address, block));
  }
  for (std::uint32_t address = 0; address < image.size(); address += raid::kFlashBlockSize)
    add(ExchangeReads(raid::kDirectionIn, kOpReadFlash, address, {}));
  return bound;
}

class QuietViews : public raid::UiSink,
                   public raid::MaintenanceView,
                   public raid::UpgradeProgressView {
 public:
  void SetPanelText(int, const std::string&) override {}
  void ShowMessage(const raid::MessageBoxRequest&) override {}
  void SetMonitorChecked(int, bool) override {}
  void EnableMonitorBoxes(bool) override {}
  void ShowProgress(std::uint32_t) override {}
  void SetProgressLabel(const std::string&) override {}
  void SetProgressCaption(const std::string&) override {}
  void SetProgressPosition(std::uint32_t) override {}
  void HideProgress() override {}
};

}  // namespace

int main() {
  raid::VirtualClock clock;
  raid::sim::Scenario scenario;
  scenario.drives[kDrive] = raid::sim::DriveSpec(raid::sim::EnclosureSpec{});
  raid::sim::SimHost host(scenario, clock);
  raid::SharedState state;
  raid::DeviceAccess device(host, clock, state);
  QuietViews views;

  // Discovery as the detection thread runs it, at full speed; the bridge slows down after.
  state.detection.running = true;
  device.discovery().CountPhysicalDrives();
  device.discovery().RunDiscovery(views);
  raid::InstallNewList(device.registry(), true);
  state.detection.running = false;
  if (device.registry().current.size() != 1) {
    std::fputs("upgrade_bench: the simulated enclosure was not found\n", stderr);
    return 1;
  }
  raid::sim::SimEnclosure& enclosure = *host.enclosure(kDrive);
  enclosure.SetReadLatency(kReadLatencyUs);
  const std::array<std::uint8_t, 8> revision = enclosure.revision();
  raid::FirmwareImage image;
  image.bytes = raid::sim::BuildFirmwareImage(
      {enclosure.FactoryImage()[raid::kFirmwareTypeByte], revision, kImageSize});
  image.size = kImageSize;
  host.recorder().Clear();

  raid::NoKeepAwake keep_awake("not needed on a simulated host");
  raid::UpgradeFirmware upgrade(device, state, keep_awake);
  const std::uint64_t start_us = clock.NowUs();
  const std::clock_t cpu_start = std::clock();
  const raid::UpgradeResult result = upgrade.Run(image, 0, {views, views, views});
  const double cpu_s = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
  const double simulated_s = static_cast<double>(clock.NowUs() - start_us) / 1e6;

  const Bound bound = ProtocolBound(image.bytes);
  const double bound_s = (static_cast<double>(bound.reads) * kReadLatencyUs +
                          static_cast<double>(bound.exchanges) * raid::kPollPauseMs * 1000.0) /
                         1e6;
  const double ratio = simulated_s / bound_s;
  const double cpu_share = cpu_s / simulated_s;
  std::printf("upgrade of a %u-byte image, %u us per READ(10)\n", kImageSize, kReadLatencyUs);
  std::printf("  result                %s\n", result.Succeeded() ? "success" : "FAILED");
  std::printf("  exchanges             %llu\n", static_cast<unsigned long long>(bound.exchanges));
  std::printf("  READ(10)s sent        %zu (protocol needs %llu)\n",
              host.recorder().ReadCount(kDrive), static_cast<unsigned long long>(bound.reads));
  std::printf("  simulated duration    %.3f s\n", simulated_s);
  std::printf("  protocol bound        %.3f s\n", bound_s);
  std::printf("  ratio                 %.3f (target 1.00)\n", ratio);
  std::printf("  CPU time              %.3f s, %.2f %% of the simulated duration (target < 1 %%)\n",
              cpu_s, 100.0 * cpu_share);
  const bool met =
      result.Succeeded() && std::abs(ratio - 1.0) <= kRatioTolerance && cpu_share < kCpuShareTarget;
  return met ? 0 : 1;
}
