// SPDX-License-Identifier: GPL-2.0-or-later
// What the event-log viewer shows, decided without a window: the live log as it grows, or a log
// file picked by the user, and the caption and text colour that say which.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/shared_state.h"
#include "events/shared_event_log.h"

namespace raid {

struct LogViewerLook {
  std::string caption;
  bool paused = false;  // polling is held off: the text is drawn grey
};

// How the memo changes: cleared first when `replace`, then `lines` appended one per line. The
// lines are cut for showing (events/shown_lines.h).
struct MemoUpdate {
  bool replace = false;
  std::vector<std::string> lines;
};

class LogViewerModel {
 public:
  // FormCreate: the memo starts empty, and the lines logged so far count as shown.
  LogViewerModel(const SharedEventLog& log, const SharedState& state);

  // Caption and colour of the live view, from LogRunningFlag.
  LogViewerLook Look() const;

  // FormShow: the whole log, unless a refresh is under way; then the first tick after it
  // brings the whole log.
  MemoUpdate Show();
  // Each tick of the viewer: the lines logged since the last tick, or the whole log once it was
  // replaced. The whole live log of a day larger than it holds begins with a line that says so.
  MemoUpdate Tick();
  // Button1Click ("Real Time Log"): the whole log again.
  MemoUpdate RealTime();
  // Each of them hands out a long log's lines a part at a time: while this holds, a Tick
  // brings the next part at once. Never while a refresh is under way.
  bool MoreToShow() const;

  struct FileView {
    std::string caption;
    MemoUpdate memo;
    bool shown = false;  // false: the memo holds why the file cannot be shown
  };
  // What the viewer shows of the file at `path`: its lines, or why it cannot be shown. Touches
  // nothing of a model, so that a worker can read the file while the window goes on.
  static FileView ReadFile(const std::filesystem::path& path);
  // The caption of a file's view, known before the file is read.
  static std::string FileCaption(const std::filesystem::path& path);
  // Once ReadFile's view of `path` is shown: a file that could be shown is the last file.
  void FileShown(const std::filesystem::path& path, const FileView& view);

  std::size_t ShownLineCount() const { return shown_line_count_; }
  // The last file shown, or empty.
  const std::filesystem::path& LastFile() const { return last_file_; }

 private:
  MemoUpdate WholeLog();

  const SharedEventLog& log_;
  const SharedState& state_;
  std::size_t shown_line_count_ = 0;   // ShownLineCount
  std::size_t logged_line_count_ = 0;  // the log's lines when it was last looked at
  std::uint64_t shown_generation_ = 0;
  bool starting_over_ = false;  // the next tick brings the whole log
  std::filesystem::path last_file_;
};

}  // namespace raid
