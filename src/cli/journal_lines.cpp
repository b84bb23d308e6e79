// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/journal_lines.h"

#include <array>
#include <charconv>

#include "events/log_save_texts.h"

namespace raid::cli {
namespace {

constexpr std::string_view kOwnPrefix = "raidctl: ";

// Decimal digits only, the whole text, no overflow.
bool ParseNumber(std::string_view text, std::uint64_t& number) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc() && end == text.data() + text.size();
}

bool StartsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// "N lines of the daily log could not be saved to ...": the words after the count.
std::string UnsavedWords() {
  const std::string text = UnsavedLinesText(2, {}, {}, "");
  const std::size_t start = text.find(" of ");
  return text.substr(start, text.rfind(" to ") - start);
}

// raidctl's own failures, which leave it unable to do part of its job: the log, the metrics,
// the simulated controller's check.
const std::array<std::string_view, 4> kErrorStarts = {
    "cannot keep the daily log",
    "cannot write the metrics",
    "monitor stopped after an error",
    "protocol violation",
};

// What the enclosures and the mail tell: alerts, polling given up, a mail or a hook that failed,
// output that can no longer be written.
const std::array<std::string_view, 6> kWarningStarts = {
    "alert \"",                           // an alert raised by the event log
    "alert mails are off",                // nobody will hear of the alerts
    "alert mail: ",                       // a recipient refused, a mail not sent
    "hook ",                              // a hook that failed or was not run
    "standard output cannot be written",  // events no longer printed
    "a mail could not be cut short",      // at the stop
};
const std::array<std::string_view, 6> kWarningParts = {
    " alert mail(s) not sent",                           // at the stop
    "; looking for new drives every 5 seconds instead",  // no kernel events
    "stopped after repeated failures",                   // polling given up
    " does not answer",                                  // a listed enclosure fell silent
    " was skipped: ",                                    // a drive that could not be opened
    "could be opened; waiting for one",                  // nothing found among the others
};

}  // namespace

bool JournalStreamNames(const char* value, std::uint64_t device, std::uint64_t inode) {
  if (value == nullptr) return false;
  const std::string_view text(value);
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  std::uint64_t named_device = 0;
  std::uint64_t named_inode = 0;
  return ParseNumber(text.substr(0, colon), named_device) &&
         ParseNumber(text.substr(colon + 1), named_inode) && named_device == device &&
         named_inode == inode;
}

LinePriority RaidctlLinePriority(std::string_view line) {
  // The log's own texts, from where they are defined.
  static const std::string save_failed = LogSaveFailedText("");
  static const std::string unsaved_words = UnsavedWords();
  for (const std::string_view part : kWarningParts) {
    if (line.find(part) != std::string_view::npos) return LinePriority::kWarning;
  }
  if (!StartsWith(line, kOwnPrefix)) return LinePriority::kInformation;
  const std::string_view said = line.substr(kOwnPrefix.size());
  for (const std::string_view start : kErrorStarts) {
    if (StartsWith(said, start)) return LinePriority::kError;
  }
  if (StartsWith(said, save_failed) || said.find(unsaved_words) != std::string_view::npos) {
    return LinePriority::kError;
  }
  for (const std::string_view start : kWarningStarts) {
    if (StartsWith(said, start)) return LinePriority::kWarning;
  }
  return LinePriority::kInformation;
}

std::string PrefixedLine(LinePriority priority, std::string_view line) {
  std::string prefixed = "<" + std::to_string(static_cast<int>(priority)) + ">";
  prefixed += line;
  return prefixed;
}

void LineJoiner::Add(std::string_view bytes, const LineHandler& line) {
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    partial_ += bytes.substr(0, end);
    while (partial_.size() > kLongestLine) {
      line(std::string_view(partial_).substr(0, kLongestLine));
      partial_.erase(0, kLongestLine);
    }
    if (end == std::string_view::npos) return;
    line(partial_);
    partial_.clear();
    bytes.remove_prefix(end + 1);
  }
}

void LineJoiner::Finish(const LineHandler& line) {
  if (partial_.empty()) return;
  line(partial_);
  partial_.clear();
}

}  // namespace raid::cli
