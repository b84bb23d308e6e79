// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl's stderr lines as the journal reads them. Under systemd a service's stderr is a stream
// into the journal, which takes a line's priority from a leading "<N>" (sd-daemon.h's SD_ERR,
// SD_WARNING, SD_INFO). Without one every line is information, and `journalctl -p warning` would
// miss a failing drive. The decisions live here, free of the platform; the stream itself is
// platform.h's journal_stderr.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace raid::cli {

enum class LinePriority { kError = 3, kWarning = 4, kInformation = 6 };

// JOURNAL_STREAM, as systemd sets it: "DEVICE:INODE" in decimal, of the stream it gave the
// service. True only when `value` has that form and names the file with `device` and `inode`;
// the variable is inherited, so a process whose stderr was redirected since must not prefix.
bool JournalStreamNames(const char* value, std::uint64_t device, std::uint64_t inode);

// The priority of one of raidctl's own lines (without its line feed), by how it reads: the lines
// are written in many places with plain stdio, and what they report is in their words. A line
// not known to be a problem is information.
LinePriority RaidctlLinePriority(std::string_view line);

// The line with its priority in front. A line that brings a "<N>" of its own (a hook's output)
// keeps it as text behind ours: the journal reads only the first.
std::string PrefixedLine(LinePriority priority, std::string_view line);

// Bytes written in pieces, handed on as whole lines without their line feed. A line longer than
// kLongestLine is handed on in pieces of that length, as the journal itself splits one: a hook that
// prints without end must not fill our memory.
class LineJoiner {
 public:
  using LineHandler = std::function<void(std::string_view)>;
  static constexpr std::size_t kLongestLine = 48 * 1024;

  void Add(std::string_view bytes, const LineHandler& line);
  // A last line that ended without a line feed.
  void Finish(const LineHandler& line);

 private:
  std::string partial_;
};

}  // namespace raid::cli
