// SPDX-License-Identifier: GPL-2.0-or-later
// Records seeds for the controller_answers target: runs the fuzz session on simulated hosts and
// keeps every poll of the response block, so that the fuzzer starts from answers a controller
// really gives. Each seed is replayed at once and must give the same log as the simulator did.
//
//   record_controller_answers OUTPUT_FOLDER
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>

#include "answer_session.h"
#include "device/forwarding_disk_system.h"
#include "device/transport.h"
#include "sim_host.h"

namespace raid::fuzz {
namespace {

// Passes every command to the simulator and keeps what the response block and INQUIRY gave.
class RecordingHost : public ForwardingDiskSystem {
 public:
  using ForwardingDiskSystem::ForwardingDiskSystem;

  std::unique_ptr<Disk> OpenPhysicalDrive(unsigned number, OpenFailure* why) override {
    std::unique_ptr<Disk> disk = inner().OpenPhysicalDrive(number, why);
    if (!disk) return nullptr;
    return std::make_unique<RecordingDisk>(*this, std::move(disk));
  }

  std::vector<std::uint8_t> Seed(unsigned enclosures) const {
    std::vector<std::uint8_t> seed(kHeaderSize, 0);
    seed[kCountByte] = static_cast<std::uint8_t>(enclosures - 1);
    if (inquiry_) std::copy(inquiry_->begin(), inquiry_->end(), seed.begin() + kInquiryOffset);
    seed.insert(seed.end(), answers_.begin(), answers_.end());
    return seed;
  }

 private:
  class RecordingDisk : public Disk {
   public:
    RecordingDisk(RecordingHost& host, std::unique_ptr<Disk> inner)
        : host_(host), inner_(std::move(inner)) {}
    ScsiOutcome ExecuteDataIn(const ScsiDataIn& command) override {
      const ScsiOutcome outcome = inner_->ExecuteDataIn(command);
      host_.Keep(command, Delivered(outcome));
      return outcome;
    }
    std::optional<DiskExtent> VolumeDiskExtent() override { return inner_->VolumeDiskExtent(); }
    DiskIdentity Identity() override { return inner_->Identity(); }

   private:
    RecordingHost& host_;
    std::unique_ptr<Disk> inner_;
  };

  void Keep(const ScsiDataIn& command, bool delivered) {
    const DecodedCommand decoded = DecodeCommand(command);
    if (decoded.kind == DecodedCommand::Kind::kInquiry && delivered && !inquiry_) {
      inquiry_.emplace();
      std::copy_n(command.data.begin(), kInquiryLength, inquiry_->begin());
    }
    if (decoded.kind != DecodedCommand::Kind::kRead10 || decoded.lba != kResponseBlock) return;
    // A failed poll ends the replay: the fuzz host fails polls only once its answers run out.
    if (!delivered) ended_ = true;
    if (ended_) return;
    answers_.insert(answers_.end(), command.data.begin(), command.data.begin() + kBlockSize);
  }

  std::vector<std::uint8_t> answers_;
  std::optional<std::array<std::uint8_t, kInquiryLength>> inquiry_;
  bool ended_ = false;
};

struct SeedHost {
  const char* name;
  std::vector<sim::EnclosureSpec> enclosures;  // at drives 0, 1, ...
};

sim::EnclosureSpec With(void (*change)(sim::EnclosureSpec&),
                        sim::EnclosureSpec enclosure = sim::EnclosureSpec{}) {
  change(enclosure);
  return enclosure;
}

std::vector<SeedHost> SeedHosts() {
  using sim::EnclosureSpec;
  return {
      {"raid_mirroring", {EnclosureSpec{}}},
      {"port_multiplier", {EnclosureSpec::PortMultiplier()}},
      {"raid_and_port_multiplier", {EnclosureSpec{}, EnclosureSpec::PortMultiplier()}},
      {"three_enclosures",
       {EnclosureSpec{}, With([](EnclosureSpec& s) { s.raw_mode = sim::kModeStriping; }),
        With([](EnclosureSpec& s) { s.revision[3] &= 0xEF; })}},
      {"rebuild_running", {With([](EnclosureSpec& s) {
         s.port_states[1] = sim::kPortRebuildTarget;
         s.rebuild = sim::RebuildSpec{1, 60000};
       })}},
      {"hdd2_absent", {With([](EnclosureSpec& s) { s.members[1].reset(); })}},
      {"hdd2_new", {With([](EnclosureSpec& s) { s.port_states[1] = sim::kPortNewlyInserted; })}},
      {"hdd1_too_small", {With([](EnclosureSpec& s) { s.port_states[0] = sim::kPortTooSmall; })}},
      {"striping", {With([](EnclosureSpec& s) { s.raw_mode = sim::kModeStriping; })}},
      {"jbod_no_sensors", {With([](EnclosureSpec& s) {
         s.raw_mode = sim::kModeJbod;
         s.sensors = false;
       })}},
      {"bypass_port_order_clear", {With([](EnclosureSpec& s) {
         s.raw_mode = sim::kModeBypass;
         s.revision[3] &= 0xEF;
       })}},
      {"excluded_product", {With([](EnclosureSpec& s) {
         s.revision[4] = 0x50;
         s.revision[5] = 0x00;
       })}},
      {"no_model_text_raid", {With([](EnclosureSpec& s) { s.model_text.clear(); })}},
      {"failing_status", {With([](EnclosureSpec& s) {
         s.faults.force_status = sim::FaultSpec::ForcedStatus{0xE0, 3};
       })}},
      {"flash_block_fails", {With([](EnclosureSpec& s) {
         s.faults.flash_failures.push_back({0x80, 2});
       })}},
  };
}

bool Record(const SeedHost& seed_host, const std::filesystem::path& folder) {
  sim::Scenario scenario;
  for (unsigned drive = 0; drive < seed_host.enclosures.size(); ++drive) {
    scenario.drives[drive] = sim::DriveSpec(seed_host.enclosures[drive]);
  }
  VirtualClock clock(SessionStart());
  sim::SimHost simulated(std::move(scenario), clock);
  RecordingHost recording(simulated);
  const SessionResult recorded = RunSession(recording, clock);
  for (const std::string& violation : simulated.recorder().ViolationTexts()) {
    std::fprintf(stderr, "%s: %s\n", seed_host.name, violation.c_str());
  }
  const std::vector<std::uint8_t> seed =
      recording.Seed(static_cast<unsigned>(seed_host.enclosures.size()));

  AnswerHost replay_host(seed);
  VirtualClock replay_clock(SessionStart());
  const SessionResult replayed = RunSession(replay_host, replay_clock);
  if (replayed.log_lines != recorded.log_lines || replay_host.AnswersLeft() != 0) {
    std::fprintf(stderr, "%s: the replay differs from the simulator's session\n", seed_host.name);
    return false;
  }
  std::ofstream out(folder / seed_host.name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
  std::printf("%-26s %2u enclosure(s) found, %3zu answers, %3zu log lines\n", seed_host.name,
              recorded.enclosures, (seed.size() - kHeaderSize) / kBlockSize,
              recorded.log_lines.size());
  return static_cast<bool>(out);
}

}  // namespace
}  // namespace raid::fuzz

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder);
  bool ok = true;
  for (const raid::fuzz::SeedHost& seed_host : raid::fuzz::SeedHosts()) {
    ok = raid::fuzz::Record(seed_host, folder) && ok;
  }
  return ok ? 0 : 1;
}
