// SPDX-License-Identifier: GPL-2.0-or-later
// The day's log as the window shows it. The detector's list lives on the RAID worker; after each
// detector call the worker publishes what changed, and the window thread reads copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "events/event_log.h"

namespace raid {

struct EventLogSnapshot {
  std::vector<std::string> lines;  // the lines from the one asked for on
  std::size_t count = 0;           // all the lines the log holds
  // Changes whenever the lines were replaced rather than extended: what was copied before is
  // no longer part of the log.
  std::uint64_t generation = 0;
  std::string file;  // the day's file the lines belong to
  // The day's file holds earlier lines than these, which only it keeps.
  bool earlier_lines_in_file = false;
};

class SharedEventLog {
 public:
  // Called after each detector call, on its thread. Copies the new lines, or the whole list
  // when it changed other than by appending.
  void Publish(const EventLog& log);

  // Any thread. Lines from `from` on, at most `max_lines` of them; none when `from` is at or past
  // the end.
  EventLogSnapshot Snapshot(std::size_t from, std::size_t max_lines = SIZE_MAX) const;

 private:
  // Publishers take turns; readers only need mutex_, since lines_ changes under both.
  std::mutex publish_mutex_;
  std::uint64_t source_generation_ = 0;  // the EventLog generation lines_ came from

  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::uint64_t generation_ = 0;
  std::string file_;
  bool earlier_lines_in_file_ = false;
};

}  // namespace raid
