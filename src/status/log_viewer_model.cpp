#include "status/log_viewer_model.h"

#include <limits>
#include <system_error>

#include "common/platform_files.h"

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

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Lines as the log's own files hold them, written on either platform.
std::vector<std::string> SplitLines(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::size_t stop = end;
    if (stop > start && content[stop - 1] == '\r') --stop;
    lines.emplace_back(content, start, stop - start);
    start = end + 1;
  }
  return lines;
}

}  // namespace

LogViewerModel::LogViewerModel(const SharedEventLog& log, const SharedState& state)
    : log_(log), state_(state) {
  const EventLogSnapshot now = log_.Snapshot(kCountOnly);
  shown_line_count_ = now.count;
  shown_generation_ = now.generation;
}

LogViewerLook LogViewerModel::Look() const {
  // A firmware upgrade clears the flag while it holds polling off.
  const bool running = (state_.work_requests.load() & kLogRunningFlag) != 0;
  return running ? LogViewerLook{kRealTimeCaption, false} : LogViewerLook{kPausedCaption, true};
}

MemoUpdate LogViewerModel::WholeLog() {
  EventLogSnapshot all = log_.Snapshot(0);
  shown_line_count_ = all.count;
  shown_generation_ = all.generation;
  starting_over_ = false;
  if (all.earlier_lines_in_file) {
    all.lines.insert(all.lines.begin(), kEarlierLinesPrefix + all.file + kEarlierLinesSuffix);
  }
  return MemoUpdate{true, std::move(all.lines)};
}

MemoUpdate LogViewerModel::Show() {
  if (state_.status_poll_busy.load()) {
    // The refresh may be writing the log now; the first tick after it shows every line.
    starting_over_ = true;
    return MemoUpdate{true, {}};
  }
  return WholeLog();
}

MemoUpdate LogViewerModel::Tick() {
  if (state_.status_poll_busy.load()) return {};
  EventLogSnapshot added = log_.Snapshot(shown_line_count_);
  // A new day may begin with as many lines as were shown: only the generation tells.
  if (starting_over_ || added.generation != shown_generation_) return WholeLog();
  shown_line_count_ = added.count;
  return MemoUpdate{false, std::move(added.lines)};
}

MemoUpdate LogViewerModel::RealTime() {
  return WholeLog();
}

LogViewerModel::FileView LogViewerModel::ViewFile(const std::filesystem::path& path) {
  FileView view;
  view.caption = kFileCaptionPrefix + Utf8(path.filename());
  view.memo.replace = true;
  // The size comes from the directory entry: nothing is opened yet, so a FIFO cannot block.
  std::error_code size_error;
  const std::uintmax_t size = std::filesystem::file_size(path, size_error);
  std::string content;
  std::string error;
  if (!size_error && size > kLargestViewedFile) {
    error = Utf8(path) + " is larger than " + std::to_string(kLargestViewedFile >> 20) + " MB";
  } else if (ReadRegularFile(path, content, error, kLargestViewedFile)) {
    view.memo.lines = SplitLines(content);
    view.shown = true;
    last_file_ = path;
    return view;
  }
  view.memo.lines = {kCannotShowPrefix + error};
  return view;
}

}  // namespace raid
