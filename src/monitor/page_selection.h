// SPDX-License-Identifier: GPL-2.0-or-later
// Which enclosure each page of the window shows, and when the user may move between pages and
// enclosures. The window binds its buttons to this; the rules live here, on the window thread,
// without a toolkit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "device/enclosure_list.h"
#include "monitor/monitor_core.h"
#include "status/controller_status.h"
#include "status/device_captions.h"
#include "status/status_page_model.h"

namespace raid {

// The window's notebook pages, in their index order.
enum Page : std::uint8_t {
  kStatusPage = 0,
  kSetupPage = 1,
  kUpgradePage = 2,
  kEmailPage = 3,
  kAboutPage = 4,
  kSmartPage = 5,
};

// A polled position's record as the RAID worker left it, and whether the enclosure is silent.
struct PolledRecord {
  ControllerStatus record;
  bool not_answering = false;
};

// The records of the listed enclosures as the last poll left them; taken on the RAID worker,
// right after its poll, and handed to the window thread.
std::array<PolledRecord, 2> TakePolledRecords(MonitorCore& core);

// What a firmware file is checked against: the Upgrade page's enclosure, or, with none listed,
// only the file's own checks (the upgrade checks the product again before it writes).
struct FirmwareCheckTarget {
  ControllerKind kind = ControllerKind::kPortMultiplier;
  IdentificationBlock id{};
};

class PageSelection {
 public:
  explicit PageSelection(MonitorCore& core) : core_(core) {}

  std::uint8_t status_device() const { return status_device_; }
  std::uint8_t upgrade_device() const { return upgrade_device_; }
  std::uint8_t smart_drive() const { return smart_drive_; }
  Page current_page() const { return page_; }  // CurrentPage

  // The page buttons do nothing until the first discovery has been shown, nor while an upgrade
  // holds its enclosure.
  bool PageSwitchAllowed() const;
  // The Upgrade page's enclosure and the SMART page's drive stay while an upgrade holds them.
  bool TargetSwitchAllowed() const;

  // The page shown from now on; the Status and Upgrade pages select their own enclosure.
  void ShowPage(Page page);
  void ShowStatusDevice(unsigned device);
  void ShowUpgradeDevice(unsigned device);
  void ShowSmartDrive(unsigned drive) { smart_drive_ = static_cast<std::uint8_t>(drive); }

  // A monitor box was clicked and is now `checked`. Checking one while the other is off shows
  // its enclosure; clearing one while the other is on shows the other's. Clearing the last one
  // ends there (false); otherwise polling counts that position's failures from zero again and
  // the window draws its pages anew (true). `status_moved` says the Status page's enclosure
  // changed.
  bool MonitorBoxClicked(unsigned position, bool checked, bool other_checked, bool& status_moved);

  // After a shorter list: a page whose position is past its end shows the last enclosure.
  struct Moved {
    bool status = false;
    bool upgrade = false;
  };
  Moved FollowListSize();

  // The enclosure the captions describe: the Upgrade page's while it shows, else the Status
  // page's. It becomes the selected one.
  std::uint8_t SelectForCaptions();

  void SetPolledRecords(const std::array<PolledRecord, 2>& records) { records_ = records; }
  // The Status page's enclosure as the last poll left it, found by its drive: a list installed
  // since that poll may have moved it or taken it away. Never a zeroed record or another
  // enclosure's; null until a poll has read it.
  const PolledRecord* ShownRecord() const;

  // What the Status page draws, with the selected enclosure's captions; no values while the shown
  // enclosure's record has not been read.
  StatusPageInput StatusInput(const DeviceCaptions& captions) const;

  FirmwareCheckTarget FirmwareTarget() const;

 private:
  MonitorCore& core_;
  Page page_ = kStatusPage;
  std::uint8_t status_device_ = 0;   // StatusDevice
  std::uint8_t upgrade_device_ = 0;  // UpgradeDevice
  std::uint8_t smart_drive_ = 0;     // SmartDevice
  std::array<PolledRecord, 2> records_{};
};

}  // namespace raid
