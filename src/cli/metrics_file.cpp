// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/metrics_file.h"

#include <cstdio>
#include <optional>
#include <utility>

#include "common/platform_files.h"
#include "monitor/metrics_text.h"
#include "monitor/polling_schedule.h"

namespace raid::cli {
namespace {

// What keeps the metrics from being written to `path`, as far as can be told without writing.
std::optional<std::string> MetricsPathProblem(const std::filesystem::path& path) {
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  std::string what;
  switch (ExaminePath(folder, what)) {
    case PathKind::kMissing:
      return "the folder " + folder.string() + " does not exist";
    case PathKind::kRegularFile:
    case PathKind::kOther:
      return folder.string() + " is not a folder";
    case PathKind::kUnknown:
      return "cannot examine " + folder.string() + ": " + what;
    case PathKind::kFolder:
      break;
  }
  switch (ExaminePath(path, what)) {
    case PathKind::kFolder:
    case PathKind::kOther:
      return NotRegularFileText(path, what);
    case PathKind::kUnknown:
      return "cannot examine " + path.string() + ": " + what;
    case PathKind::kMissing:
    case PathKind::kRegularFile:
      break;
  }
  return std::nullopt;
}

}  // namespace

MetricsFile::MetricsFile(std::filesystem::path path, std::uint64_t refresh_ms)
    : path_(std::move(path)), refresh_ms_(refresh_ms) {}

void MetricsFile::Announce() {
  std::fprintf(stderr, "raidctl: metrics in %s\n", path_.string().c_str());
  if (const std::optional<std::string> problem = MetricsPathProblem(path_)) Failed(*problem);
}

void MetricsFile::Failed(const std::string& why) {
  if (failing_) return;
  failing_ = true;
  std::fprintf(stderr,
               "raidctl: cannot write the metrics: %s; monitoring goes on, and the metrics are "
               "written as soon as that is mended\n",
               why.c_str());
}

void MetricsFile::Offer(const std::string& text, std::uint64_t now_ms) {
  if (attempted_ && text == last_text_ && now_ms - last_attempt_ms_ < refresh_ms_) return;
  attempted_ = true;
  last_text_ = text;
  last_attempt_ms_ = now_ms;
  // The exporter reads the file as another user, and a service's umask would make a new one
  // owner-only. A file that was there keeps the mode its owner gave it.
  std::string error;
  if (!ReplaceFileContents(path_, text, FileAccess::kReadableByAll, error)) {
    Failed(error);
    return;
  }
  if (failing_) {
    failing_ = false;
    std::fprintf(stderr, "raidctl: the metrics are written to %s again\n", path_.string().c_str());
  }
}

MonitorMetrics::MonitorMetrics(CliSession& session, const AlertMailer* mailer,
                               const PushNotifier* push, std::filesystem::path path)
    : session_(session),
      collector_(session.core(), session.clock(), mailer),
      file_(std::move(path), kPollTimerMs) {
  collector_.CountPushChannels(push);
  file_.Announce();
}

void MonitorMetrics::AfterCycle() {
  const unsigned lists = session_.view().lists_installed();
  const std::uint64_t now = session_.clock().NowMs();
  if (lists == lists_seen_ && gathered_ms_ && now - *gathered_ms_ < kPollTimerMs) return;
  lists_seen_ = lists;
  Gather();
}

void MonitorMetrics::Gather() {
  // Until the first discovery is installed there is nothing to tell, not even "no enclosure".
  if (session_.view().lists_installed() == 0) return;
  gathered_ms_ = session_.clock().NowMs();
  file_.Offer(BuildMetricsText(collector_.Collect()), *gathered_ms_);
}

}  // namespace raid::cli
