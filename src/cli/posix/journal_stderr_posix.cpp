// SPDX-License-Identifier: GPL-2.0-or-later
// stderr is swapped for a stdio stream of our own (glibc's fopencookie) that prefixes each whole
// line and writes it to descriptor 2 in one write, so the many fprintf(stderr, ...) of raidctl
// need no change and lines of different threads never mix.
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>

#include "cli/platform.h"

namespace raid::cli {
namespace {

std::atomic<bool> prefixing{false};
FILE* original_stderr = nullptr;
// Set around a line written with a priority of its own, under the stream's lock.
thread_local std::optional<LinePriority> given_priority;

struct PrefixingSink {
  LineJoiner joiner;
};

void WriteWhole(const std::string& text) {
  std::string_view left = text;
  while (!left.empty()) {
    const ssize_t written = ::write(STDERR_FILENO, left.data(), left.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;  // the journal went away: nowhere else to say it
    left.remove_prefix(static_cast<std::size_t>(written));
  }
}

void WriteLine(std::string_view line) {
  const LinePriority priority = given_priority ? *given_priority : RaidctlLinePriority(line);
  WriteWhole(PrefixedLine(priority, line) + "\n");
}

ssize_t SinkWrite(void* cookie, const char* data, size_t size) {
  static_cast<PrefixingSink*>(cookie)->joiner.Add(std::string_view(data, size), WriteLine);
  return static_cast<ssize_t>(size);
}

int SinkClose(void* cookie) {
  auto* sink = static_cast<PrefixingSink*>(cookie);
  sink->joiner.Finish(WriteLine);
  delete sink;
  return 0;
}

}  // namespace

bool StderrIsJournal() {
  struct stat facts {};
  if (::fstat(STDERR_FILENO, &facts) != 0) return false;
  return JournalStreamNames(std::getenv("JOURNAL_STREAM"), facts.st_dev, facts.st_ino);
}

JournalStderr::JournalStderr() {
  if (prefixing || !StderrIsJournal()) return;
  auto* sink = new PrefixingSink;
  FILE* stream = fopencookie(sink, "w", {nullptr, SinkWrite, nullptr, SinkClose});
  if (stream == nullptr) {
    delete sink;
    return;
  }
  // A line is handed on as soon as it is complete, as an unbuffered stderr would.
  setvbuf(stream, nullptr, _IOLBF, BUFSIZ);
  std::fflush(stderr);
  original_stderr = stderr;
  stderr = stream;
  prefixing = true;
}

JournalStderr::~JournalStderr() {
  if (!prefixing) return;
  FILE* stream = stderr;
  stderr = original_stderr;
  prefixing = false;
  std::fclose(stream);
}

bool StderrLinesArePrefixed() {
  return prefixing;
}

void WriteStderrLine(LinePriority priority, std::string_view line) {
  FILE* stream = stderr;
  flockfile(stream);
  given_priority = priority;
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
  given_priority.reset();
  funlockfile(stream);
}

}  // namespace raid::cli
