// SPDX-License-Identifier: GPL-2.0-or-later
// Finds the enclosures among the host's physical drives and identifies each one. A pass runs on
// the drive-detection thread; it fills the new list, which the window thread installs later.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/shared_state.h"
#include "common/ui_sink.h"
#include "device/controller_commands.h"
#include "device/enclosure_list.h"
#include "device/flash_access.h"

namespace raid {

// Fills the status record of an enclosure right after discovery identified it.
class InitialStatusFiller {
 public:
  virtual ~InitialStatusFiller() = default;
  virtual void InitialStatusFill(unsigned position, unsigned slot) = 0;
  // The listed enclosure on drive `slot` keeps `position` in the new list although it did not
  // answer the pass: its record stays as its last answer left it.
  virtual void KeptWithoutAnswer(unsigned position, unsigned slot) = 0;
};

inline constexpr std::uint32_t kDiscoveryPauseMs = 200;
inline constexpr std::size_t kFirmwareTypeFlashOffset = 149;

// A drive number that is there but could not be opened, and why.
struct UnopenedDrive {
  unsigned drive = 0;
  OpenFailure failure = OpenFailure::kOther;
  bool operator==(const UnopenedDrive&) const = default;
};

class Discovery {
 public:
  Discovery(DiskSystem& disks, ControllerCommands& commands, FlashAccess& flash, Clock& clock,
            SharedState& state, EnclosureRegistry& registry);

  void SetStatusFiller(InitialStatusFiller* filler) { filler_ = filler; }

  // The host's volumes; returns how many.
  unsigned CountLogicalDrives();
  // How many of physical drives 0-9 can be opened; keeps which disks they are.
  unsigned CountPhysicalDrives();
  // Counts both again and keeps the counts: true when the number of volumes changed, or the
  // openable physical drives are not the same disks as at the last count.
  bool RecountChangedDrives();
  // One record per volume (at most 20) with the disk that holds its first extent, for the new
  // list; installing the list makes it the table the window reads.
  void BuildVolumeTable(UiSink& ui);
  // One pass over the physical drives; fills the new list and returns its count.
  unsigned DiscoverEnclosures(UiSink& ui);
  // The volume table, then a pass, and a second pass when the first found nothing.
  void RunDiscovery(UiSink& ui);

  // Drives that the last count found but could not open (no rights, in use): "no enclosure"
  // is not known of them.
  const std::vector<UnopenedDrive>& UnopenedDrives() const { return unopened_; }

 private:
  enum class ProbeResult { kEnclosure, kSilent, kNoEnclosure };
  ProbeResult ProbeDrive(unsigned drive, unsigned position, UiSink& ui);
  // A drive that did not answer the probe but is still the disk of a listed enclosure (the same
  // attached disk, not one that took its number) keeps that enclosure in the new list: an
  // enclosure that is silent for a moment is not removed. True when it was kept.
  bool KeepListedEnclosure(unsigned drive);
  void ReadModelFromInquiry(IdentificationBlock& block);
  // The current-list position of the enclosure under upgrade, when a pass must keep it.
  std::optional<unsigned> UpgradeTargetPosition() const;
  // Whether the enclosure's disk was among the physical drives at the last count.
  bool AmongPhysicalDrives(const EnclosureInfo& info) const;

  DiskSystem& disks_;
  ControllerCommands& commands_;
  FlashAccess& flash_;
  Clock& clock_;
  SharedState& state_;
  EnclosureRegistry& registry_;
  InitialStatusFiller* filler_ = nullptr;
  std::vector<UnopenedDrive> unopened_;
};

}  // namespace raid
