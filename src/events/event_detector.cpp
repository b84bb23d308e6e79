// SPDX-License-Identifier: GPL-2.0-or-later
#include "events/event_detector.h"

#include <algorithm>
#include <iterator>

#include "common/product.h"
#include "common/text_helpers.h"
#include "events/log_text.h"
#include "status/device_information.h"

namespace raid {
namespace {

constexpr std::uint8_t kSensorReportFormat = 0x11;
constexpr std::uint8_t kLastPercentBeforeDone = 99;
constexpr unsigned kBadSectorRingSize = 10;

std::string RebuildDirectionText(std::uint8_t direction) {
  return direction == 0 ? " HDD2 --> HDD1 " : " HDD1 --> HDD2 ";
}

std::string ScanText(std::uint8_t direction) {
  return direction == 0 ? " HDD1 Scan " : " HDD2 Scan ";
}

struct DriveChangeTexts {
  const char* removed;
  const char* initialized;
  const char* failed;
  const char* inserted;
};

constexpr std::array<DriveChangeTexts, 2> kDriveChangeTexts = {{
    {" HDD1 was removed, ", " HDD1 was initialized (SATA", " HDD1 was failed, Capacity too small.",
     " HDD1 was inserted, "},
    {" HDD2 was removed, ", " HDD2 was initialized, (SATA", " HDD2 was failed, Capacity too small.",
     " HDD2 was inserted, "},
}};

}  // namespace

std::string PositionName(unsigned position) {
  return "D" + std::to_string(position + 1);
}

std::string_view DriveRemovedText(unsigned drive) {
  return kDriveChangeTexts.at(drive).removed;
}

EventDetector::EventDetector(EventLog& log, LogFileStore& store, Clock& clock, SharedState& state,
                             const EnclosureRegistry& registry, const StatusRecords& records,
                             AlertSink& alerts, unsigned detected_positions)
    : log_(log),
      store_(store),
      clock_(clock),
      state_(state),
      registry_(registry),
      records_(records),
      alerts_(alerts),
      detected_positions_(std::min(detected_positions, kMaxEnclosures)) {}

const ControllerStatus& EventDetector::RecordAt(unsigned position) const {
  return records_.Record(DriveNumberOf(registry_.current.at(position).device_code));
}

void EventDetector::Add(std::string line) {
  log_.lines.push_back(std::move(line));
  section_started_ = true;
  ++added_;
  ++unsaved_lines_;
}

void EventDetector::AddStamped(const std::string& text) {
  Add(text + stamp_);
}

void EventDetector::RememberDriveFlags(unsigned count) {
  for (unsigned i = 0; i < count; ++i)
    memory_[i].drive_flags = RecordAt(i).DriveFlags();
}

std::vector<std::string> EventDetector::UnsavedFiles() const {
  std::vector<std::string> files;
  for (const WaitingDay& day : waiting_days_)
    files.push_back(day.file);
  if (unsaved_lines_ > 0) files.push_back(log_file_);
  return files;
}

std::size_t EventDetector::UnsavedLineCount() const {
  std::size_t count = unsaved_lines_;
  for (const WaitingDay& day : waiting_days_)
    count += day.unsaved;
  return count;
}

void EventDetector::SwitchDay(const std::string& file) {
  // The day that ends keeps its unsaved lines until its file takes them.
  if (unsaved_lines_ > 0 && !log_file_.empty()) {
    waiting_days_.push_back(WaitingDay{log_file_, std::move(log_.lines), unsaved_lines_, based_,
                                       mark_, log_.earlier_lines_in_file});
  }
  log_file_ = file;
  log_.file = file;
  log_.lines.clear();
  log_.earlier_lines_in_file = false;
  ++log_.generation;
  based_ = false;
  section_started_ = false;
  file_seen_ = false;
  unsaved_lines_ = 0;
  mark_ = {};
  // The clock went back to a day whose lines still wait: they are the list again, so that two
  // lists never replace each other in one file.
  const auto again = std::find_if(waiting_days_.begin(), waiting_days_.end(),
                                  [&](const WaitingDay& day) { return day.file == file; });
  if (again != waiting_days_.end()) {
    log_.lines = std::move(again->lines);
    log_.earlier_lines_in_file = again->earlier_lines_in_file;
    based_ = again->based;
    mark_ = again->mark;
    section_started_ = true;
    unsaved_lines_ = again->unsaved;
    waiting_days_.erase(again);
  }
}

bool EventDetector::StartCall(unsigned count, PositionMask mask) {
  log_clock_ = clock_.WallNow();
  stamp_ = TimeStampText(log_clock_);
  const std::string file = LogFileName(log_clock_);
  if (file != log_file_) SwitchDay(file);  // the first call, or a new day

  bool new_section = false;
  switch (store_.Probe(file)) {
    case LogFileStore::Presence::kPresent:
      if (!based_) {
        // Lines added while the file could not be read follow its earlier content.
        if (std::optional<LogFileLines> earlier = store_.Load(file)) {
          if (!earlier->lines.empty() || earlier->earlier_lines_in_file) ++log_.generation;
          earlier->lines.insert(earlier->lines.end(), log_.lines.begin(), log_.lines.end());
          log_.lines = std::move(earlier->lines);
          log_.earlier_lines_in_file = earlier->earlier_lines_in_file;
          mark_ = earlier->mark;
          based_ = true;
          file_seen_ = true;
          section_started_ = true;
        }
      }
      break;
    case LogFileStore::Presence::kMissing:
      // A day's file starts with a new section; so does one that vanished after we wrote it,
      // but the lines still waiting for it go first: they were never saved anywhere. One that
      // we have not managed to write yet keeps the lines waiting for it.
      if (!section_started_ || file_seen_) {
        if (!log_.lines.empty() || log_.earlier_lines_in_file) ++log_.generation;
        log_.lines.erase(log_.lines.begin(),
                         log_.lines.end() - static_cast<std::ptrdiff_t>(unsaved_lines_));
        log_.earlier_lines_in_file = false;
        mark_ = {};
        if (!state_.detection.initial.load()) Add(kLogSeparator);
        new_section = true;
        section_started_ = true;
        file_seen_ = false;
      }
      based_ = true;
      break;
    case LogFileStore::Presence::kUnknown:
      break;  // keep the list; nothing is saved until the file can be reached again
  }

  if (state_.detection.initial.load()) {
    Add(kLogSeparator);
    Add(std::string(kTitleText) + " has started from " + stamp_);
    RememberDriveFlags(count);
    new_section = true;
  } else if (pending_.pending) {
    Add(kLogSeparator);
    for (const std::string& line : pending_.lines)
      AddStamped(line);
    pending_.lines.clear();
    pending_.pending = false;
    RememberDriveFlags(count);
    new_section = true;
  }

  if (new_section) {
    for (unsigned i = 0; i < count; ++i) {
      if ((mask & (1U << i)) == 0) continue;
      for (std::string& line : DeviceInformationBlock(i, registry_.CurrentBlock(i), RecordAt(i))) {
        Add(std::move(line));
      }
    }
    Add(kLogSeparator);
  }
  return new_section;
}

void EventDetector::DetectEvents(PositionMask refreshed_mask) {
  const unsigned count =
      std::min(static_cast<unsigned>(registry_.current.size()), detected_positions_);
  added_ = 0;
  const bool new_section = StartCall(count, refreshed_mask);

  for (unsigned i = 0; i < count; ++i) {
    if ((refreshed_mask & (1U << i)) == 0) continue;
    const ControllerStatus& record = RecordAt(i);
    if (!new_section) DriveChanges(i, record);
    SensorAlarms(i, record);
    ConditionsCleared(i, record);
    Activity(i, record);
    BadSectors(i, record);
  }
  alerts_.ListPolled();
  SaveWaitingLines();
}

void EventDetector::SaveWaitingLines() {
  if (based_ && unsaved_lines_ > 0) SaveDay();
  SaveWaitingDays();
  ReportSaving();
}

void EventDetector::SaveDay() {
  const std::vector<std::string> waiting(
      log_.lines.end() - static_cast<std::ptrdiff_t>(unsaved_lines_), log_.lines.end());
  std::optional<LogFileLines> now = store_.Append(log_file_, waiting, mark_);
  if (!now) return;
  unsaved_lines_ = 0;
  file_seen_ = true;
  mark_ = now->mark;
  // The list shows the day as the file holds it: other programs' lines since our last look go
  // before ours.
  if (now->continued) {
    if (now->lines != waiting) {
      log_.lines.resize(log_.lines.size() - waiting.size());
      log_.lines.insert(log_.lines.end(), std::make_move_iterator(now->lines.begin()),
                        std::make_move_iterator(now->lines.end()));
      ++log_.generation;
    }
  } else if (now->lines != log_.lines || now->earlier_lines_in_file != log_.earlier_lines_in_file) {
    log_.lines = std::move(now->lines);
    log_.earlier_lines_in_file = now->earlier_lines_in_file;
    ++log_.generation;
  }
  DropEarliestLines();
}

void EventDetector::DropEarliestLines() {
  std::uintmax_t bytes = 0;
  for (const std::string& line : log_.lines)
    bytes += line.size() + 1;
  if (bytes <= kLargestViewedFile) return;
  // Down to three quarters, so that dropping lines (which makes every viewer start over) is rare.
  // Lines that wait for the file stay, however many.
  const std::size_t saved = log_.lines.size() - unsaved_lines_;
  std::size_t drop = 0;
  while (drop < saved && bytes > kLargestViewedFile / 4 * 3) {
    bytes -= log_.lines[drop].size() + 1;
    ++drop;
  }
  if (drop == 0) return;
  log_.lines.erase(log_.lines.begin(), log_.lines.begin() + static_cast<std::ptrdiff_t>(drop));
  log_.earlier_lines_in_file = true;
  ++log_.generation;
}

bool EventDetector::SaveWaitingDay(WaitingDay& day) {
  if (!day.based) {
    // As for the day's own list: the lines follow what the file already holds, and a file that
    // exists but cannot be read is left alone.
    switch (store_.Probe(day.file)) {
      case LogFileStore::Presence::kPresent: {
        std::optional<LogFileLines> earlier = store_.Load(day.file);
        if (!earlier) return false;
        earlier->lines.insert(earlier->lines.end(), day.lines.begin(), day.lines.end());
        day.lines = std::move(earlier->lines);
        day.mark = earlier->mark;
        day.earlier_lines_in_file = earlier->earlier_lines_in_file;
        break;
      }
      case LogFileStore::Presence::kMissing:
        break;
      case LogFileStore::Presence::kUnknown:
        return false;
    }
    day.based = true;
  }
  const std::vector<std::string> waiting(day.lines.end() - static_cast<std::ptrdiff_t>(day.unsaved),
                                         day.lines.end());
  return store_.Append(day.file, waiting, day.mark).has_value();
}

void EventDetector::SaveWaitingDays() {
  for (auto day = waiting_days_.begin(); day != waiting_days_.end();) {
    day = SaveWaitingDay(*day) ? waiting_days_.erase(day) : day + 1;
  }
}

void EventDetector::ReportSaving() {
  const bool failing = Unsaved();
  if (failing == save_failing_) return;
  save_failing_ = failing;
  if (save_listener_ == nullptr) return;
  if (failing) {
    save_listener_->LogSaveFailed(store_.last_error());
  } else {
    save_listener_->LogSaveRecovered();
  }
}

void EventDetector::DriveChanges(unsigned position, const ControllerStatus& record) {
  PositionMemory& memory = memory_[position];
  const std::uint8_t flags = record.DriveFlags();
  if (memory.drive_flags == flags) return;
  const std::uint8_t old = memory.drive_flags == 0xFF ? 0 : memory.drive_flags;
  memory.drive_flags = flags;
  const std::string name = PositionName(position);

  for (unsigned drive = 0; drive < 2; ++drive) {
    // The state the flags give is news only when the old flags lacked it.
    const std::uint8_t state = record.DriveState(drive);
    if (state == 0 || (old & DriveFlag(state, drive)) != 0) continue;

    const DriveChangeTexts& texts = kDriveChangeTexts[drive];
    const std::string code = PortCodeText(record, drive);
    const auto details = [&] {
      Add("  Model no.: " + record.DriveModel(drive));
      Add(SerialLineText("  Serial no.: ", record, drive));
      Add("  Capacity : " + CapacityWithSectors(record.DriveCapacity(drive)));
    };
    switch (state) {
      case kDriveAbsent:
        AddStamped(name + texts.removed + code);
        alerts_.BuildAlertInfo(AlertKind::kHardDisksFail, position, drive);
        break;
      case kDrivePresent:
        AddStamped(name + texts.initialized + LinkSpeedName(record.LinkSpeed(drive)) + "), " +
                   code);
        details();
        state_.polling.work_requests.fetch_or(kRequestSmartThresholds);
        break;
      case kDriveFailed:
        AddStamped(name + texts.failed + code);
        details();
        break;
      default:
        AddStamped(name + texts.inserted + code);
        break;
    }
  }
}

void EventDetector::ConditionsCleared(unsigned position, const ControllerStatus& record) {
  for (unsigned drive = 0; drive < 2; ++drive) {
    if (record.DriveState(drive) == kDrivePresent)
      alerts_.ConditionCleared(AlertKind::kHardDisksFail, position, drive);
  }
  const std::uint8_t sensors = record.SensorFlags();
  if (record.SensorFormat() != kSensorReportFormat || (sensors & 0xF0) != 0xA0) return;
  if (!(sensors & kFanAlarm)) alerts_.ConditionCleared(AlertKind::kFanFail, position, 0);
  if (!(sensors & kTemperatureAlarm)) alerts_.ConditionCleared(AlertKind::kOverHeat, position, 0);
}

void EventDetector::SensorAlarms(unsigned position, const ControllerStatus& record) {
  const std::uint8_t sensors = record.SensorFlags();
  if (record.SensorFormat() != kSensorReportFormat || (sensors & 0xF0) != 0xA0) return;
  std::uint8_t& previous = memory_[position].sensor_flags;
  if ((sensors & kFanAlarm) && !(previous & kFanAlarm)) {
    alerts_.BuildAlertInfo(AlertKind::kFanFail, position, 0);
  }
  if ((sensors & kTemperatureAlarm) && !(previous & kTemperatureAlarm)) {
    alerts_.BuildAlertInfo(AlertKind::kOverHeat, position, 0);
  }
  previous = sensors;
}

void EventDetector::Activity(unsigned position, const ControllerStatus& record) {
  PositionMemory& memory = memory_[position];
  const std::uint8_t activity = record.Activity();
  const std::string name = PositionName(position);
  const bool both_present = (record.DriveFlags() & kBothPresent) == kBothPresent;

  if (activity & kRebuildActivity) {
    memory.following_scan =
        state_.target.scan_capable_firmware.load() && (activity & kScanOrSsdTooSmall) != 0;
    const std::uint8_t percent = record.Progress();
    if (memory.logged_percent != kNoPercent && memory.logged_percent == percent) return;
    memory.logged_percent = percent;
    memory.direction = (activity & kRebuildingHdd1) ? 0 : 1;
    const std::string what =
        memory.following_scan ? ScanText(memory.direction) : RebuildDirectionText(memory.direction);
    AddStamped(name + what + std::to_string(percent) + "%, ");
    return;
  }

  if (memory.logged_percent == kNoPercent) {
    memory.following_scan = false;
    return;
  }
  if (both_present) {
    const bool done = memory.logged_percent == kLastPercentBeforeDone;
    if (done) {
      const std::string what = memory.following_scan ? ScanText(memory.direction)
                                                     : RebuildDirectionText(memory.direction);
      AddStamped(name + what + "Done, ");
    } else {
      AddStamped(name + " HDD1 OK, HDD2 OK, ");
    }
  }
  memory.logged_percent = kNoPercent;
  memory.following_scan = false;
}

void EventDetector::BadSectors(unsigned position, const ControllerStatus& record) {
  PositionMemory& memory = memory_[position];
  const std::uint8_t activity = record.Activity();
  const bool hdd1 = (activity & kBadSectorsHdd1) != 0;
  const bool hdd2 = (activity & kBadSectorsHdd2) != 0;
  const unsigned count = record.BadSectorCount();
  const unsigned last = memory.bad_sector_count;
  if ((!hdd1 && !hdd2) || count == 0 || count == last) return;
  memory.bad_sector_count = static_cast<std::uint8_t>(count);
  if (count < last) return;

  const std::string name = PositionName(position);
  const std::string hdd1_text = name + " HDD1 Bad Sector was found. ";
  const std::string hdd2_text = name + " HDD2 Bad Sector was found. ";
  const std::uint8_t flags = record.DriveFlags();
  std::optional<std::string> header;
  if (hdd1 && !hdd2) {
    header = hdd1_text;
  } else if (hdd2 && !hdd1) {
    header = hdd2_text;
  } else if (activity & kRebuildingHdd1) {
    header = memory.following_scan ? hdd1_text : hdd2_text;
  } else if (activity & kRebuildingHdd2) {
    header = memory.following_scan ? hdd2_text : hdd1_text;
  } else if (flags & DriveFlag(kDrivePresent, 0)) {
    header = hdd1_text;
  } else if (flags & DriveFlag(kDrivePresent, 1)) {
    header = hdd2_text;
  }
  if (header) AddStamped(*header);
  const unsigned first = count - last > kBadSectorRingSize ? count - kBadSectorRingSize : last;
  for (unsigned k = first; k < count; ++k) {
    Add("  LBA: " + std::to_string(record.BadSectorLba(k % kBadSectorRingSize)));
  }
}

void EventDetector::AddDiscoveryChanges(const std::vector<ListChange>& changes) {
  // Each line waits without its stamp; the call that writes it stamps it.
  for (const ListChange& change : changes) {
    const std::string name = PositionName(change.position);
    if (change.kind == ListChange::Kind::kFound) {
      pending_.lines.push_back(name + std::string(kDeviceFoundText));
      alerts_.ConditionCleared(AlertKind::kDeviceRemoved, change.position, 0);
    } else {
      pending_.lines.push_back(name + std::string(kDeviceRemovedText));
      alerts_.BuildAlertInfo(AlertKind::kDeviceRemoved, change.position, 0);
    }
    pending_.pending = true;
  }
  if (!changes.empty()) pending_.lines.push_back("    Device had changed.");
}

}  // namespace raid
