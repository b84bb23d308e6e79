// SPDX-License-Identifier: GPL-2.0-or-later
#include "events/shown_lines.h"

#include <utility>

namespace raid {
namespace {

bool IsContinuationByte(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// UTF-8 characters in `text`; a byte that is no part of a valid sequence counts as one.
std::size_t CharacterCount(std::string_view text) {
  std::size_t count = 0;
  for (const char byte : text)
    count += IsContinuationByte(byte) ? 0 : 1;
  return count;
}

}  // namespace

std::string CutLineNote(std::size_t more_characters) {
  return " \u2026 [line cut: " + std::to_string(more_characters) + " more characters]";
}

std::string ShownLine(std::string_view line) {
  if (line.size() <= kLongestShownLine) return std::string(line);
  std::size_t cut = kLongestShownLine;
  // A lead byte has at most three continuation bytes; more means this is no UTF-8 anyway.
  while (cut > kLongestShownLine - 3 && IsContinuationByte(line[cut]))
    --cut;
  if (IsContinuationByte(line[cut])) cut = kLongestShownLine;
  return std::string(line.substr(0, cut)) + CutLineNote(CharacterCount(line.substr(cut)));
}

void CutForShowing(std::string& line) {
  if (line.size() > kLongestShownLine) line = ShownLine(line);
}

std::vector<std::string> ShownLinesOf(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::size_t stop = end;
    if (stop > start && text[stop - 1] == '\r') --stop;
    lines.push_back(ShownLine(text.substr(start, stop - start)));
    start = end + 1;
  }
  return lines;
}

void LineBatches::Clear() {
  parts_.clear();
  next_ = 0;
}

void LineBatches::Add(std::vector<std::string> lines) {
  if (!lines.empty()) parts_.push_back(std::move(lines));
}

std::string LineBatches::Next(std::size_t max_bytes) {
  std::string text;
  bool first = true;
  while (!parts_.empty()) {
    const std::string& line = parts_.front()[next_];
    if (!first && text.size() + 1 + line.size() > max_bytes) break;
    if (!first) text += '\n';
    text += line;
    first = false;
    if (++next_ == parts_.front().size()) {
      parts_.pop_front();
      next_ = 0;
    }
  }
  return text;
}

}  // namespace raid
