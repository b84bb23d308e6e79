// What the event-log viewer shows, decided without a window: the live log as it grows, or a log
// file picked by the user, and the caption and text colour that say which.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/shared_state.h"
#include "status/shared_event_log.h"

namespace raid {

struct LogViewerLook {
  std::string caption;
  bool paused = false;  // polling is held off: the text is drawn grey
};

// How the memo changes: cleared first when `replace`, then `lines` appended one per line.
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
  // Timer1Timer: the lines logged since the last tick, or the whole log once it was replaced.
  // The whole live log of a day larger than it holds begins with a line that says so.
  MemoUpdate Tick();
  // Button1Click ("Real Time Log"): the whole log again.
  MemoUpdate RealTime();

  struct FileView {
    std::string caption;
    MemoUpdate memo;
    bool shown = false;  // false: the memo holds why the file cannot be shown
  };
  // Button2Click after a file was picked.
  FileView ViewFile(const std::filesystem::path& path);

  std::size_t ShownLineCount() const { return shown_line_count_; }
  // The last file shown, or empty.
  const std::filesystem::path& LastFile() const { return last_file_; }

 private:
  MemoUpdate WholeLog();

  const SharedEventLog& log_;
  const SharedState& state_;
  std::size_t shown_line_count_ = 0;  // ShownLineCount
  std::uint64_t shown_generation_ = 0;
  bool starting_over_ = false;  // the next tick brings the whole log
  std::filesystem::path last_file_;
};

}  // namespace raid
