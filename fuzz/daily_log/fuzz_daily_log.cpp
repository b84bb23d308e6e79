// SPDX-License-Identifier: GPL-2.0-or-later
// The daily log file is read back from disk, where anything (another program, a crash, a copy
// from the other platform) may have left any bytes. The input is the day's file; the real loader
// reads it and the event detector continues it, as it does after a restart.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "common/bytes.h"
#include "common/clock.h"
#include "common/shared_state.h"
#include "device/enclosure_list.h"
#include "events/alert_sink.h"
#include "events/event_detector.h"
#include "events/event_log.h"
#include "events/log_text.h"
#include "scratch_folder.h"
#include "status/controller_status.h"

namespace {

namespace fs = std::filesystem;

// Reads through the real folder store; keeps what the detector appends in memory, so that every
// run starts from the input's file (and no run waits for a disk flush).
class ReadFolderStore : public raid::LogFileStore {
 public:
  explicit ReadFolderStore(const fs::path& folder) : folder_(folder) {}
  Presence Probe(const std::string& name) override {
    return appended_.count(name) != 0 ? Presence::kPresent : folder_.Probe(name);
  }
  std::optional<raid::LogFileLines> Load(const std::string& name) override {
    return folder_.Load(name);
  }
  std::optional<raid::LogFileLines> Append(const std::string& name,
                                           const std::vector<std::string>& lines,
                                           const raid::LogFileMark& mark) override {
    std::vector<std::string>& appended = appended_[name];
    appended.insert(appended.end(), lines.begin(), lines.end());
    raid::LogFileMark after = mark;
    after.end += lines.size();
    return raid::LogFileLines{lines, mark.known, false, after};
  }
  const std::string& last_error() const override { return folder_.last_error(); }
  const std::vector<std::string>* Appended(const std::string& name) const {
    auto it = appended_.find(name);
    return it == appended_.end() ? nullptr : &it->second;
  }

 private:
  raid::FolderLogStore folder_;
  std::map<std::string, std::vector<std::string>> appended_;
};

class Records : public raid::StatusRecords {
 public:
  const raid::ControllerStatus& Record(unsigned slot) const override { return records.at(slot); }
  std::array<raid::ControllerStatus, raid::kDriveSlots> records{};
};

// One mirroring enclosure at drive 1 with both drives in the array.
void MakeEnclosure(raid::EnclosureRegistry& registry, Records& records) {
  constexpr unsigned kDrive = 1;
  registry.current.push_back(raid::EnclosureInfo{.device_code = kDrive | raid::kEnclosureBit});
  raid::IdentificationBlock& id = registry.previous_blocks[kDrive];
  const std::array<std::uint8_t, 8> revision = {0x16, 0x05, 0x20, 0x13, 0x27, 0x70, 0, 0};
  std::copy(revision.begin(), revision.end(), id.begin() + raid::kIdFirmwareRevision);
  raid::WriteSwappedText(id, raid::kIdModelText, raid::kIdModelLength, "TORVANE TR6182");
  raid::ControllerStatus& record = records.records[kDrive];
  record.bytes[raid::status_layout::kSlot] = kDrive;
  record.bytes[raid::status_layout::kValidMarker] = raid::status_layout::kValid;
  record.bytes[raid::status_layout::kMode] = raid::kModeMirroring;
  record.bytes[raid::status_layout::kDriveFlags] = raid::kBothPresent;
  record.SetArrayCapacity(1953525168);
}

const fs::path& Folder() {
  return raid::fuzz::ScratchFolder("daily-log");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // 2026-03-02 09:30:00 UTC, a day's file that already exists.
  raid::VirtualClock clock(std::chrono::system_clock::time_point{} +
                           std::chrono::seconds(1772443800));
  const std::string file = raid::LogFileName(clock.WallNow());
  {
    // A new file each time: truncating one makes ext4 flush it to disk when it is closed.
    std::error_code ignored;
    fs::remove(Folder() / file, ignored);
    std::ofstream out(Folder() / file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) return 0;
  }

  // The loader on its own: a line never holds a line break, and the mark ends after the last one.
  raid::FolderLogStore folder(Folder());
  const std::optional<raid::LogFileLines> read = folder.Load(file);
  if (!read) return 0;
  const std::vector<std::string>& loaded = read->lines;
  std::uint64_t bytes = 0;
  for (const std::string& line : loaded) {
    if (line.find('\n') != std::string::npos) __builtin_trap();
    bytes += line.size() + 1;
  }
  if (read->mark.end < bytes || read->mark.end > size) __builtin_trap();

  raid::SharedState state;
  raid::EnclosureRegistry registry;
  Records records;
  MakeEnclosure(registry, records);
  ReadFolderStore store(Folder());
  raid::EventLog log;
  raid::RecordingAlertSink alerts;
  raid::EventDetector detector(log, store, clock, state, registry, records, alerts);

  // The start after a restart: the day's earlier lines come first, the new section after them,
  // and only the new section goes to the file.
  detector.DetectEvents(0x01);
  const std::vector<std::string>* appended = store.Appended(file);
  if (appended == nullptr || log.lines.size() != loaded.size() + appended->size() ||
      !std::equal(loaded.begin(), loaded.end(), log.lines.begin()) ||
      !std::equal(appended->begin(), appended->end(), log.lines.begin() + loaded.size())) {
    __builtin_trap();
  }
  state.detection.initial.store(false);

  // HDD2 goes, a discovery change waits, and the day ends: the file is saved and a new one
  // begins.
  clock.Advance(5000);
  records.records[1].bytes[raid::status_layout::kDriveFlags] =
      raid::DriveFlag(raid::kDrivePresent, 0) | raid::DriveFlag(raid::kDriveAbsent, 1);
  detector.DetectEvents(0x01);
  detector.AddDiscoveryChanges({{raid::ListChange::Kind::kFound, 1}});
  clock.Advance(24 * 3600 * 1000);
  detector.DetectEvents(0x01);
  return 0;
}
