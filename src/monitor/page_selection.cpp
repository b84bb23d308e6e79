// SPDX-License-Identifier: GPL-2.0-or-later
#include "monitor/page_selection.h"

namespace raid {

std::array<PolledRecord, 2> TakePolledRecords(MonitorCore& core) {
  std::array<PolledRecord, 2> records{};
  const EnclosureRegistry& registry = core.device().registry();
  for (unsigned position = 0; position < 2 && position < registry.current.size(); ++position) {
    const unsigned slot = DriveNumberOf(registry.current[position].device_code);
    records[position] = {core.monitor().Record(slot), core.monitor().NotAnswering(slot)};
  }
  return records;
}

bool PageSelection::PageSwitchAllowed() const {
  return !core_.state().detection.initial.load() && TargetSwitchAllowed();
}

bool PageSelection::TargetSwitchAllowed() const {
  return core_.state().upgrade.target_index.load() == kNoUpgradeTarget;
}

void PageSelection::ShowPage(Page page) {
  SharedState& state = core_.state();
  page_ = page;
  state.polling.smart_readings_shown.store(page == kSmartPage);
  if (page == kStatusPage) state.target.selected_index.store(status_device_);
  if (page == kUpgradePage) state.target.selected_index.store(upgrade_device_);
}

void PageSelection::ShowStatusDevice(unsigned device) {
  status_device_ = static_cast<std::uint8_t>(device);
  core_.state().target.selected_index.store(status_device_);
}

void PageSelection::ShowUpgradeDevice(unsigned device) {
  upgrade_device_ = static_cast<std::uint8_t>(device);
  core_.state().target.selected_index.store(upgrade_device_);
}

bool PageSelection::MonitorBoxClicked(unsigned position, bool checked, bool other_checked,
                                      bool& status_moved) {
  core_.state().polling.monitor_checked[position].store(checked);
  status_moved = false;
  if (!checked && !other_checked) return false;
  if (checked != other_checked) {
    ShowStatusDevice(checked ? position : 1 - position);
    status_moved = true;
  }
  core_.monitor().RequestErrorCountReset(position);
  return true;
}

PageSelection::Moved PageSelection::FollowListSize() {
  const std::size_t count = core_.device().registry().current.size();
  Moved moved;
  if (count == 0) return moved;
  const auto last = static_cast<std::uint8_t>(count - 1);
  if (status_device_ > last) {
    status_device_ = last;
    moved.status = true;
  }
  if (upgrade_device_ > last) {
    upgrade_device_ = last;
    moved.upgrade = true;
  }
  return moved;
}

std::uint8_t PageSelection::SelectForCaptions() {
  const std::uint8_t selected = current_page() == kUpgradePage ? upgrade_device_ : status_device_;
  core_.state().target.selected_index.store(selected);
  return selected;
}

const PolledRecord* PageSelection::ShownRecord() const {
  const std::vector<EnclosureInfo>& current = core_.device().registry().current;
  if (status_device_ >= current.size()) return nullptr;
  const unsigned slot = DriveNumberOf(current[status_device_].device_code);
  for (const PolledRecord& polled : records_) {
    if (polled.record.IsFilledFor(slot)) return &polled;
  }
  return nullptr;
}

StatusPageInput PageSelection::StatusInput(const DeviceCaptions& captions) const {
  const SharedState& state = core_.state();
  StatusPageInput input;
  const PolledRecord* shown = ShownRecord();
  input.enclosure_known = !core_.device().registry().current.empty() && shown != nullptr;
  input.device_checked = {state.polling.monitor_checked[0].load(),
                          state.polling.monitor_checked[1].load()};
  input.status_device = status_device_;
  if (shown != nullptr) {
    input.record = shown->record;
    input.no_response = shown->not_answering;
  }
  input.firmware_version_text = captions.firmware_version_text;
  input.scan_capable_firmware = captions.scan_capable_firmware;
  input.sensor_panel_allowed = captions.sensor_panel_allowed;
  return input;
}

FirmwareCheckTarget PageSelection::FirmwareTarget() const {
  const EnclosureRegistry& registry = core_.device().registry();
  if (upgrade_device_ >= registry.current.size()) return {};
  return {registry.current[upgrade_device_].controller_kind,
          registry.CurrentBlock(upgrade_device_)};
}

}  // namespace raid
