// SPDX-License-Identifier: GPL-2.0-or-later
#include "events/log_viewer_model.h"

#include <limits>
#include <system_error>

#include "common/platform_files.h"
#include "events/shown_lines.h"

namespace raid {
namespace {

constexpr const char* kRealTimeCaption = "Event log - Real Time";
constexpr const char* kPausedCaption = "Event log - Real Time( Paused )";
constexpr const char* kFileCaptionPrefix = "Event log - ";
constexpr const char* kCannotShowPrefix = "Cannot show the log file: ";
// The first line of the live view of a day larger than the viewer holds.
constexpr const char* kEarlierLinesPrefix = "(Earlier lines of this day are only in its file, ";
constexpr const char* kEarlierLinesSuffix = ".)";

constexpr std::size_t kCountOnly = std::numeric_limits<std::size_t>::max();
// Lines one call hands out at most: copying and cutting them takes a few milliseconds, while a
// whole day's log would keep the window from its events for a tenth of a second and more.
constexpr std::size_t kLinesPerCall = 2000;

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

LogViewerModel::LogViewerModel(const SharedEventLog& log, const SharedState& state)
    : log_(log), state_(state) {
  const EventLogSnapshot now = log_.Snapshot(kCountOnly);
  shown_line_count_ = now.count;
  logged_line_count_ = now.count;
  shown_generation_ = now.generation;
}

LogViewerLook LogViewerModel::Look() const {
  // A firmware upgrade clears the flag while it holds polling off.
  const bool running = (state_.polling.work_requests.load() & kLogRunningFlag) != 0;
  return running ? LogViewerLook{kRealTimeCaption, false} : LogViewerLook{kPausedCaption, true};
}

MemoUpdate LogViewerModel::WholeLog() {
  EventLogSnapshot first = log_.Snapshot(0, kLinesPerCall);
  shown_line_count_ = first.lines.size();
  logged_line_count_ = first.count;
  shown_generation_ = first.generation;
  starting_over_ = false;
  for (std::string& line : first.lines)
    CutForShowing(line);
  if (first.earlier_lines_in_file) {
    first.lines.insert(first.lines.begin(), kEarlierLinesPrefix + first.file + kEarlierLinesSuffix);
  }
  return MemoUpdate{true, std::move(first.lines)};
}

MemoUpdate LogViewerModel::Show() {
  if (state_.polling.status_poll_busy.load()) {
    // The refresh may be writing the log now; the first tick after it shows every line.
    starting_over_ = true;
    return MemoUpdate{true, {}};
  }
  return WholeLog();
}

MemoUpdate LogViewerModel::Tick() {
  if (state_.polling.status_poll_busy.load()) return {};
  EventLogSnapshot added = log_.Snapshot(shown_line_count_, kLinesPerCall);
  // A new day may begin with as many lines as were shown: only the generation tells.
  if (starting_over_ || added.generation != shown_generation_) return WholeLog();
  shown_line_count_ += added.lines.size();
  logged_line_count_ = added.count;
  for (std::string& line : added.lines)
    CutForShowing(line);
  return MemoUpdate{false, std::move(added.lines)};
}

bool LogViewerModel::MoreToShow() const {
  return shown_line_count_ < logged_line_count_ && !state_.polling.status_poll_busy.load();
}

MemoUpdate LogViewerModel::RealTime() {
  return WholeLog();
}

LogViewerModel::FileView LogViewerModel::ReadFile(const std::filesystem::path& path) {
  FileView view;
  view.caption = FileCaption(path);
  view.memo.replace = true;
  // The size comes from the directory entry: nothing is opened yet, so a FIFO cannot block.
  std::error_code size_error;
  const std::uintmax_t size = std::filesystem::file_size(path, size_error);
  std::string content;
  std::string error;
  if (!size_error && size > kLargestViewedFile) {
    error = Utf8(path) + " is larger than " + std::to_string(kLargestViewedFile >> 20) + " MB";
  } else if (ReadRegularFile(path, content, error, kLargestViewedFile)) {
    view.memo.lines = ShownLinesOf(content);
    view.shown = true;
    return view;
  }
  view.memo.lines = {kCannotShowPrefix + error};
  return view;
}

std::string LogViewerModel::FileCaption(const std::filesystem::path& path) {
  return kFileCaptionPrefix + Utf8(path.filename());
}

void LogViewerModel::FileShown(const std::filesystem::path& path, const FileView& view) {
  if (view.shown) last_file_ = path;
}

}  // namespace raid
