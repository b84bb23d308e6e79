// SPDX-License-Identifier: GPL-2.0-or-later
#include "events/shared_event_log.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace raid {

void SharedEventLog::Publish(const EventLog& log) {
  const std::lock_guard<std::mutex> publishing(publish_mutex_);
  // Copies are made before taking mutex_, so that a reader never waits for a whole day's copy.
  if (log.generation != source_generation_ || log.lines.size() < lines_.size()) {
    std::vector<std::string> replaced = log.lines;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      lines_.swap(replaced);
      ++generation_;
      file_ = log.file;
      earlier_lines_in_file_ = log.earlier_lines_in_file;
    }
    source_generation_ = log.generation;
    return;  // the old lines are freed outside the lock
  }
  if (log.lines.size() == lines_.size()) return;
  std::vector<std::string> added(log.lines.begin() + static_cast<std::ptrdiff_t>(lines_.size()),
                                 log.lines.end());
  const std::lock_guard<std::mutex> lock(mutex_);
  lines_.insert(lines_.end(), std::make_move_iterator(added.begin()),
                std::make_move_iterator(added.end()));
}

EventLogSnapshot SharedEventLog::Snapshot(std::size_t from, std::size_t max_lines) const {
  EventLogSnapshot snapshot;
  const std::lock_guard<std::mutex> lock(mutex_);
  snapshot.count = lines_.size();
  snapshot.generation = generation_;
  snapshot.file = file_;
  snapshot.earlier_lines_in_file = earlier_lines_in_file_;
  if (from < lines_.size()) {
    const std::size_t count = std::min(lines_.size() - from, max_lines);
    const auto first = lines_.begin() + static_cast<std::ptrdiff_t>(from);
    snapshot.lines.assign(first, first + static_cast<std::ptrdiff_t>(count));
  }
  return snapshot;
}

}  // namespace raid
