// SPDX-License-Identifier: GPL-2.0-or-later
// After every status refresh, compares each refreshed record with what it remembers, writes what
// changed into the day's log, raises alerts, and saves the log.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "common/shared_state.h"
#include "device/enclosure_list.h"
#include "events/alert_sink.h"
#include "events/event_log.h"
#include "status/controller_status.h"

namespace raid {

inline constexpr std::uint8_t kNoPercent = 0xFF;

// The lines that go with alerts and discovery changes begin with the enclosure's name and one of
// these texts; readers of the new lines (raidctl's event reports) find an event's line by them.
inline constexpr std::string_view kDeviceFoundText = " New Device was found.";
inline constexpr std::string_view kDeviceRemovedText = " Device was removed.";
// "D1" for list position 0.
std::string PositionName(unsigned position);
// " HDD1 was removed, " for drive 0: the line that raises the disk-fail alert.
std::string_view DriveRemovedText(unsigned drive);

struct PositionMemory {
  std::uint8_t drive_flags = 0xFF;  // 0xFF counts as none
  std::uint8_t logged_percent = kNoPercent;
  bool following_scan = false;
  std::uint8_t direction = 0;  // 0: HDD1 side, 1: HDD2 side
  std::uint8_t bad_sector_count = 0;
  // The last sensor flags reported. Each enclosure has its own: one byte for all would tell a
  // lasting alarm again on every look and hide one enclosure's alarm behind another's.
  std::uint8_t sensor_flags = 0;
};

// Hears when the day's log stops being saved and when it is saved again. Called on the thread
// that runs DetectEvents.
class LogSaveListener {
 public:
  virtual ~LogSaveListener() = default;
  // Lines wait unsaved; once per episode, with the store's reason.
  virtual void LogSaveFailed(const std::string& why) = 0;
  // Every waiting line of every day has been saved.
  virtual void LogSaveRecovered() = 0;
};

class EventDetector {
 public:
  // Events are detected for the first `detected_positions` positions of the list.
  EventDetector(EventLog& log, LogFileStore& store, Clock& clock, SharedState& state,
                const EnclosureRegistry& registry, const StatusRecords& records, AlertSink& alerts,
                unsigned detected_positions = kWindowWatch.detected_positions);

  // Called at the end of every status refresh with the mask of refreshed list positions.
  void DetectEvents(PositionMask refreshed_mask);

  // Discovery changed the number of enclosures: queue the found and removed lines for the next
  // DetectEvents call and raise the removal alerts now.
  void AddDiscoveryChanges(const std::vector<ListChange>& changes);

  // LogClock: the time of the current (or last) call.
  std::chrono::system_clock::time_point LogClock() const { return log_clock_; }
  const PendingDeviceLines& Pending() const { return pending_; }
  PositionMemory& Memory(unsigned position) { return memory_.at(position); }
  // How many lines the last call appended; they are the last lines of the log.
  std::size_t LinesAddedByLastCall() const { return added_; }
  // True while the log, or an earlier day's log, holds lines the store has not taken yet.
  bool Unsaved() const { return unsaved_lines_ > 0 || !waiting_days_.empty(); }
  // One more attempt to save what waits, as the next call would make it: at a stop, before
  // lines are reported unsaved. Run it where DetectEvents runs, once that no longer does.
  void SaveWaitingLines();
  // The files whose lines wait, earlier days first, and how many lines wait in all.
  std::vector<std::string> UnsavedFiles() const;
  std::size_t UnsavedLineCount() const;
  void SetSaveListener(LogSaveListener* listener) { save_listener_ = listener; }

 private:
  // An earlier day's lines that its file has not taken yet.
  struct WaitingDay {
    std::string file;
    std::vector<std::string> lines;
    std::size_t unsaved = 0;  // the last lines, which the file has not taken
    bool based = false;       // the lines begin with the file's content (or there was no file)
    LogFileMark mark;
    bool earlier_lines_in_file = false;
  };

  bool StartCall(unsigned count, PositionMask mask);
  void SwitchDay(const std::string& file);
  void SaveDay();
  void DropEarliestLines();
  bool SaveWaitingDay(WaitingDay& day);
  void SaveWaitingDays();
  void ReportSaving();
  void RememberDriveFlags(unsigned count);
  void DriveChanges(unsigned position, const ControllerStatus& record);
  void SensorAlarms(unsigned position, const ControllerStatus& record);
  // What is well in `record` now, said to the alert sink on every look.
  void ConditionsCleared(unsigned position, const ControllerStatus& record);
  void Activity(unsigned position, const ControllerStatus& record);
  void BadSectors(unsigned position, const ControllerStatus& record);
  void Add(std::string line);
  void AddStamped(const std::string& text);
  const ControllerStatus& RecordAt(unsigned position) const;

  EventLog& log_;
  LogFileStore& store_;
  Clock& clock_;
  SharedState& state_;
  const EnclosureRegistry& registry_;
  const StatusRecords& records_;
  AlertSink& alerts_;

  std::array<PositionMemory, kMaxEnclosures> memory_{};
  unsigned detected_positions_;
  PendingDeviceLines pending_;

  std::chrono::system_clock::time_point log_clock_{};
  std::string stamp_;
  std::string log_file_;           // the file the list belongs to
  bool based_ = false;             // the list holds that file's content (or it did not exist)
  bool section_started_ = false;   // this file's list has begun (loaded or a section started)
  bool file_seen_ = false;         // the file was read or written by us
  std::size_t added_ = 0;          // lines this call appended
  std::size_t unsaved_lines_ = 0;  // the last lines of the list, which the file has not taken
  LogFileMark mark_;               // how far the list follows the file
  std::vector<WaitingDay> waiting_days_;
  LogSaveListener* save_listener_ = nullptr;
  bool save_failing_ = false;  // LogSaveFailed was told and LogSaveRecovered not yet
};

}  // namespace raid
