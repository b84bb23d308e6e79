// SPDX-License-Identifier: GPL-2.0-or-later
#include "monitor/metrics_collector.h"

#include <algorithm>

#include "common/text_helpers.h"
#include "health/attribute_names.h"
#include "health/smart_verdict.h"
#include "status/controller_status.h"

namespace raid {

MetricsCollector::MetricsCollector(MonitorCore& core, Clock& clock, const AlertMailer* mailer)
    : core_(core), clock_(clock), mailer_(mailer) {
  core_.smart_reader().SetPassListener(
      [this](std::uint8_t feature, const SmartReadPass& pass) { OnSmartPass(feature, pass); });
}

MetricsCollector::~MetricsCollector() {
  core_.smart_reader().SetPassListener(nullptr);
}

std::optional<MetricsCollector::DriveIdentity> MetricsCollector::DriveThere(unsigned position,
                                                                            unsigned drive) const {
  const EnclosureRegistry& registry = core_.device().registry();
  if (position >= registry.current.size()) return std::nullopt;
  const unsigned slot = DriveNumberOf(registry.current[position].device_code);
  const ControllerStatus& record = core_.monitor().Record(slot);
  // The SMART reader reads exactly these drives.
  if ((record.DriveFlags() & DriveFlag(kDrivePresent, drive)) == 0) return std::nullopt;
  return DriveIdentity{slot, record.DriveModel(drive), TrimmedSerial(record.DriveSerial(drive))};
}

void MetricsCollector::OnSmartPass(std::uint8_t feature, const SmartReadPass& pass) {
  const bool data = feature == kSmartDataFeature;
  bool thresholds_of_another_drive = false;
  for (unsigned position = 0; position < kSmartPositions; ++position) {
    if (!pass.read[position]) continue;  // not watched, or silent: what it had stays
    for (unsigned drive = 0; drive < kMemberDrives; ++drive) {
      SmartReads& reads = smart_[position][drive];
      std::optional<DriveIdentity>& read = data ? reads.data : reads.thresholds;
      const std::optional<DriveIdentity> there = DriveThere(position, drive);
      // A failed read may have left some parts of the old sector: nothing of it is shown.
      if (!there || pass.failed[position][drive]) {
        read.reset();
      } else {
        read = there;
        if (data) reads.data_read_at = clock_.WallNow();
      }
      if (data && there && reads.thresholds != there) thresholds_of_another_drive = true;
    }
  }
  // The countdown then asks for the thresholds with the next data.
  if (thresholds_of_another_drive) core_.smart_store().SetThresholdsRead(false);
}

std::optional<MetricsSmart> MetricsCollector::SmartOf(unsigned position, unsigned drive) const {
  if (position >= kSmartPositions) return std::nullopt;
  const SmartReads& reads = smart_[position][drive];
  const std::optional<DriveIdentity> there = DriveThere(position, drive);
  if (!there || reads.data != there) return std::nullopt;
  const std::optional<SmartDriveRecord> record = core_.smart_store().Snapshot(position, drive);
  if (!record) return std::nullopt;
  const std::size_t rows = SmartRowCount(record->data);
  if (rows == 0) return std::nullopt;  // the drive has no table

  MetricsSmart smart;
  smart.read_at = reads.data_read_at;
  // Judged over the rows, as the SMART page judges the drive.
  std::uint8_t verdict = kVerdictGood;
  for (std::size_t slot = 0; slot < rows; ++slot) {
    const SmartAttribute attribute = AttributeAt(record->data, record->thresholds, slot);
    verdict = AccumulateVerdict(verdict, AttributeVerdict(attribute));
    if (HasVerdictRule(attribute.id)) {
      smart.attributes.push_back(
          {attribute.id, std::string(AttributeName(attribute.id)), attribute.raw});
    }
  }
  if (reads.thresholds == there) smart.verdict = verdict;
  return smart;
}

MetricsEnclosure MetricsCollector::EnclosureAt(unsigned position) const {
  const EnclosureRegistry& registry = core_.device().registry();
  const EnclosureInfo& info = registry.current[position];
  const IdentificationBlock& block = registry.CurrentBlock(position);
  const unsigned slot = DriveNumberOf(info.device_code);
  const ControllerStatus& record = core_.monitor().Record(slot);
  const PollTally& tally = core_.monitor().Tally(position);

  MetricsEnclosure enclosure;
  enclosure.position = position;
  enclosure.physical_drive = slot;
  enclosure.model = ModelText(block, kIdModelText);
  enclosure.firmware = FirmwareRevisionText(block);
  enclosure.monitored = core_.state().polling.monitor_checked[position].load();
  enclosure.answered = tally.last_answered;
  if (tally.answered != 0) enclosure.last_answered_at = tally.last_answered_at;
  enclosure.failed_polls = tally.failed;
  enclosure.polls = tally.answered + tally.failed;

  enclosure.mode = record.Mode();
  enclosure.capacity_sectors = record.ArrayCapacity();
  const std::uint8_t activity = record.Activity();
  if (activity & kRebuildActivity) {
    // As the state text tells a scan from a rebuild.
    const bool scan =
        core_.state().target.scan_capable_firmware.load() && (activity & kScanOrSsdTooSmall) != 0;
    enclosure.operation = scan ? ArrayOperation::kScan : ArrayOperation::kRebuild;
    enclosure.operation_drive = (activity & kRebuildingHdd1) != 0 ? 0 : 1;
    enclosure.progress_percent = record.Progress();
  }
  if (SensorsShown(record)) {
    enclosure.fan_rpm = record.FanSpeed();
    enclosure.temperature_celsius = record.Temperature();
  }
  for (unsigned drive = 0; drive < kMemberDrives; ++drive) {
    MetricsDrive& member = enclosure.drives[drive];
    member.state = record.DriveState(drive);
    member.capacity_sectors = record.DriveCapacity(drive);
    member.model = record.DriveModel(drive);
    member.serial = TrimmedSerial(record.DriveSerial(drive));
    enclosure.smart[drive] = SmartOf(position, drive);
  }
  return enclosure;
}

MetricsSnapshot MetricsCollector::Collect() {
  MetricsSnapshot snapshot;
  const EnclosureRegistry& registry = core_.device().registry();
  snapshot.enclosures_found = static_cast<unsigned>(registry.current.size());
  const unsigned polled =
      std::min(snapshot.enclosures_found, core_.monitor().watch().polled_positions);
  for (unsigned position = 0; position < polled; ++position) {
    snapshot.enclosures.push_back(EnclosureAt(position));
  }
  if (mailer_ != nullptr) {
    snapshot.alert_mails_sent = mailer_->AlertMailsSent();
    snapshot.alert_mails_failed = mailer_->AlertMailsFailed();
    snapshot.alert_mail_recipients_failed = mailer_->AlertRecipientsFailed();
  }
  if (push_ != nullptr) {
    for (const ChannelStats& channel : push_->Stats()) {
      snapshot.channels.push_back({channel.name, channel.counters.delivered,
                                   channel.counters.failed, channel.counters.unknown,
                                   channel.counters.last_delivery});
    }
  }
  return snapshot;
}

}  // namespace raid
