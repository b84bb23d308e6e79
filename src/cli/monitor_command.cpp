// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/monitor_command.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_mail.h"
#include "cli/event_fields.h"
#include "cli/event_hook.h"
#include "cli/metrics_file.h"
#include "cli/monitor_push.h"
#include "cli/platform.h"
#include "cli/unopened_drives.h"
#include "device/device_watch.h"
#include "events/event_log.h"
#include "events/log_save_texts.h"
#include "events/log_text.h"
#include "events/monitor_events.h"
#include "monitor/monitoring_loop.h"
#include "notify/mail_templates.h"
#include "notify/mail_worker.h"
#include "sysinfo/host_info.h"

namespace raid::cli {
namespace {

// Simulated time is waited in steps of this, so that a stop is seen between them.
constexpr std::uint32_t kVirtualStepMs = 100;
// A stop ends the process within seconds whatever a mail server does: what is due may still go
// out within the grace, then the mail under way is cancelled.
constexpr std::chrono::milliseconds kMailGrace = kMailStopGrace;
constexpr std::chrono::milliseconds kMailCancelLimit{2000};

// Each alert is told on the terminal and handed to the mailer, when there is one.
class MonitorAlerts : public AlertSink {
 public:
  explicit MonitorAlerts(AlertMailer* mailer) : mailer_(mailer) {}
  void BuildAlertInfo(AlertKind kind, unsigned enclosure_index, unsigned port) override {
    told_.BuildAlertInfo(kind, enclosure_index, port);
    if (mailer_ != nullptr) mailer_->BuildAlertInfo(kind, enclosure_index, port);
  }
  void ConditionCleared(AlertKind kind, unsigned enclosure_index, unsigned port) override {
    if (mailer_ != nullptr) mailer_->ConditionCleared(kind, enclosure_index, port);
  }
  void ListPolled() override {
    if (mailer_ != nullptr) mailer_->ListPolled();
  }
  RecordingAlertSink& told() { return told_; }

 private:
  AlertMailer* mailer_;
  RecordingAlertSink told_;
};

// Whether alerts will be mailed, said once at the start.
void AnnounceMail(CliMail& mail, bool loaded) {
  if (mail.mailer() == nullptr) {
    std::fprintf(stderr, "raidctl: alert mails are off: %s\n", mail.no_mailer_reason().c_str());
    return;
  }
  const MailSettings settings = mail.store().Snapshot();
  if (!loaded) {
    std::fprintf(stderr, "raidctl: alert mails are off: no mail settings in %s\n",
                 mail.backend().Location().c_str());
  } else if (settings.recipients.empty()) {
    std::fputs("raidctl: alert mails are off: the mail settings name no recipient\n", stderr);
  } else {
    std::fprintf(stderr, "raidctl: alert mails go to %zu recipient(s) through %s\n",
                 settings.recipients.size(), settings.Setting(kSettingHost).c_str());
  }
}

// Standard output, until a reader that went away makes a write fail: that is said once on stderr
// and nothing more is written there, while monitoring, the log and the mail go on.
class EventOutput {
 public:
  void Write(const std::string& text) {
    if (closed_ || text.empty()) return;
    if (std::fputs(text.c_str(), stdout) == EOF || std::fflush(stdout) == EOF) {
      closed_ = true;
      std::fprintf(stderr,
                   "raidctl: standard output cannot be written (%s); events are no longer "
                   "printed there, monitoring goes on\n",
                   std::strerror(errno));
    }
  }

 private:
  bool closed_ = false;
};

// Where each event goes besides the daily log: a JSON line on stdout with --json, and the hook.
class EventReports {
 public:
  EventReports(EventOutput& output, bool json, EventHookRunner* hook)
      : output_(output), json_(json), hook_(hook) {}
  bool json() const { return json_; }
  EventOutput& output() { return output_; }

  void Report(const std::vector<MonitorEvent>& events) {
    if (json_) {
      for (const MonitorEvent& event : events)
        output_.Write(EventJsonLine(event));
    }
    if (hook_ != nullptr) {
      for (const MonitorEvent& event : events)
        hook_->Post(event);
    }
  }

 private:
  EventOutput& output_;
  const bool json_;
  EventHookRunner* const hook_;
};

// An enclosure that stops answering, and one that answers again, is said on stderr and is an
// event of its own, without a log line.
class AnswerReports : public AnswerListener {
 public:
  AnswerReports(CliSession& session, EventReports& reports, MonitorPush* push)
      : session_(session), reports_(reports), push_(push) {}
  void StoppedAnswering(unsigned position) override {
    std::fprintf(stderr, "raidctl: Device%u does not answer\n", position + 1);
    Report(MonitorEventKind::kNoResponse, position);
  }
  void AnswersAgain(unsigned position) override {
    std::fprintf(stderr, "raidctl: Device%u answers again; watching it again\n", position + 1);
    Report(MonitorEventKind::kResponding, position);
  }

 private:
  void Report(MonitorEventKind kind, unsigned position) {
    reports_.Report({{kind, position + 1, std::nullopt, "", session_.clock().WallNow()}});
    if (push_ != nullptr) push_->Answer(position + 1, kind == MonitorEventKind::kResponding);
  }
  CliSession& session_;
  EventReports& reports_;
  MonitorPush* const push_;
};

// After each detection: the new log lines (or the events as JSON lines) on stdout, the alerts on
// stderr, and the events to the hook.
void EchoNewLines(CliSession& session, RecordingAlertSink& alerts, EventReports& reports) {
  const std::vector<std::string>& lines = session.log().lines;
  const auto added = static_cast<std::ptrdiff_t>(session.detector().LinesAddedByLastCall());
  const std::vector<std::string> new_lines(lines.end() - added, lines.end());
  const std::vector<AlertRequest> taken = alerts.Take();
  const std::vector<MonitorEvent> events =
      BuildMonitorEvents(new_lines, taken, session.detector().LogClock());
  if (!reports.json()) {
    std::string text;
    for (const std::string& line : new_lines)
      text += line + "\n";
    reports.output().Write(text);
  }
  for (const AlertRequest& alert : taken) {
    // The port counts from 0; only a drive's failure names one.
    const std::string drive = alert.kind == AlertKind::kHardDisksFail
                                  ? " HDD" + std::to_string(alert.port + 1)
                                  : std::string();
    std::fprintf(stderr, "raidctl: alert \"%s\" for Device%u%s\n",
                 std::string(AlertKindName(alert.kind)).c_str(), alert.enclosure_index + 1,
                 drive.c_str());
  }
  reports.Report(events);
}

// The hook runner for --exec; its reports go to stderr.
std::unique_ptr<EventHookRunner> MakeHookRunner(const MonitorEventOptions& options) {
  if (!options.exec) return nullptr;
  std::fprintf(stderr, "raidctl: each event runs %s, stopped after %g s\n", options.exec->c_str(),
               static_cast<double>(options.exec_limit.count()) / 1000.0);
  return std::make_unique<EventHookRunner>(
      *options.exec, options.exec_limit,
      [](const std::string& text) { std::fputs((text + "\n").c_str(), stderr); });
}

// Saving is reported as it fails, and once more when it works again; the lines wait meanwhile.
class ConsoleSaveListener : public LogSaveListener {
 public:
  void LogSaveFailed(const std::string& why) override {
    std::fprintf(stderr, "raidctl: %s\n", LogSaveFailedText(why).c_str());
  }
  void LogSaveRecovered() override { std::fprintf(stderr, "raidctl: %s\n", kLogSavedAgainText); }
};

// Waits on the session's clock until `deadline`, a stop or reload request or a device event.
// Real time is waited in one piece, which the request cuts short: an idle monitor wakes only for
// its timers. A request that comes between the look at it and the wait is seen at the deadline,
// at most a detection tick (half a second) later.
void WaitUntil(CliSession& session, DeviceChangeWatcher& watcher, std::uint64_t deadline) {
  Clock& clock = session.clock();
  while (!StopRequested() && !ReloadRequested() && clock.NowMs() < deadline) {
    const std::uint64_t left = deadline - clock.NowMs();
    if (session.virtual_time()) {
      clock.SleepMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(left, kVirtualStepMs)));
    } else if (WaitForHandle(
                   watcher.WaitHandle(),
                   static_cast<std::uint32_t>(std::min<std::uint64_t>(left, UINT32_MAX)))) {
      return;
    }
  }
  // Simulated time costs nothing: a short real pause keeps an endless run off the processor.
  if (session.virtual_time()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Mail goes out on a worker of its own; at the stop it gets a grace, then what is under way is
// cancelled. True when the worker ended; otherwise it hangs in something that cannot be cut
// short (a name lookup), and the process must not wait for it.
bool StopMail(MailWorker& worker, AlertMailer& mailer) {
  const bool ended = worker.Stop(kMailGrace, kMailCancelLimit);
  if (const std::size_t unsent = mailer.AlertsNotSent(); unsent > 0) {
    char line[96];
    std::fwrite(line, 1, UnsentLine(unsent, line, sizeof line), stderr);
  }
  if (!ended) std::fputs("raidctl: a mail could not be cut short; not waiting for it\n", stderr);
  return ended;
}

void SayStopped(int exit_code) {
  std::fprintf(stderr, "raidctl: monitor stopped%s\n",
               exit_code == 0 ? "" : " after an error; see above");
}

// The service's status line after each installed list: what is watched, and the drives of
// which nothing is known.
std::string WatchingStatus(std::size_t enclosures, std::size_t unopened) {
  if (enclosures == 0 && unopened == 0) return "No enclosure found; waiting for one";
  return "Watching " + std::to_string(enclosures) + " enclosure(s)" + UnopenedStatusText(unopened);
}

// Tells the service manager about each newly installed list. The service is ready once it
// watches: the first list installed and its first status poll done (at once when it is empty),
// not after the SMART pass that follows, which takes a while on ten enclosures.
class ReadinessReport {
 public:
  ReadinessReport(CliSession& session, ServiceNotifier& notifier)
      : session_(session), notifier_(notifier) {}
  void AfterCycle() {
    const unsigned installed = session_.view().lists_installed();
    const bool watching =
        session_.device().registry().current.empty() || !session_.state().detection.initial.load();
    if (installed == 0 || !watching) return;
    // Drives that cannot be opened are said at the start and whenever they change.
    const std::vector<UnopenedDrive>& unopened = session_.device().discovery().UnopenedDrives();
    const bool unopened_changed = unopened != unopened_said_;
    if (unopened_changed) {
      SayUnopenedDrives(unopened);
      if (unopened.empty()) std::fputs("raidctl: every drive could be opened\n", stderr);
      unopened_said_ = unopened;
    }
    if (installed == lists_seen_ && !unopened_changed) return;
    const std::string status =
        WatchingStatus(session_.device().registry().current.size(), unopened.size());
    if (lists_seen_ == 0) {
      notifier_.Ready(status);
    } else {
      notifier_.Status(status);
    }
    lists_seen_ = installed;
  }

 private:
  CliSession& session_;
  ServiceNotifier& notifier_;
  unsigned lists_seen_ = 0;
  std::vector<UnopenedDrive> unopened_said_;
};

int Monitor(CliSession& session, std::optional<double> for_seconds, ServiceNotifier& notifier,
            const MonitorEventOptions& event_options,
            const std::optional<std::string>& metrics_path) {
  ClearStopRequest();
  InstallStopHandlers();
  TakeReloadRequest();
  InstallReloadHandler();
  IgnoreBrokenPipe();

  Clock& clock = session.clock();
  const std::uint64_t start = clock.NowMs();
  const std::uint64_t end =
      for_seconds ? start + static_cast<std::uint64_t>(*for_seconds * 1000.0) : UINT64_MAX;
  const std::filesystem::path& folder = session.log_store().folder();
  std::fprintf(stderr, "raidctl: daily log in %s\n", folder.string().c_str());
  // A FIFO or a device in the log's place would block the first save for ever.
  if (const std::optional<std::string> problem =
          LogPathProblem(folder, LogFileName(clock.WallNow()))) {
    std::fprintf(stderr, "raidctl: cannot keep the daily log: %s\n", problem->c_str());
    return 1;
  }
  ConsoleSaveListener save_listener;
  session.detector().SetSaveListener(&save_listener);

  // Alerts are mailed as the window mails them, with the same settings.
  CliMail mail(session.device().registry(), session.monitor(), clock, session.ui());
  const bool mail_loaded = mail.LoadSettings();
  AnnounceMail(mail, mail_loaded);
  AlertMailer* const mailer = mail.mailer();
  std::unique_ptr<MailWorker> mail_worker;
  if (mailer != nullptr) {
    if (!InitializeComForHostQueries()) {
      std::fprintf(stderr, "raidctl: %s\n", kComSecurityErrorText);
    }
    mail.DescribeHost();
    mailer->SetNoticeHandler([](const std::string& notice) {
      std::fprintf(stderr, "raidctl: alert mail: %s\n", notice.c_str());
    });
    mail_worker = std::make_unique<MailWorker>(*mailer);
    ReportUnsentOnSecondStop(&mailer->NotSentCounter());
  }
  // The push channels hear every alert in its mail's words, mailed or not.
  const std::unique_ptr<MonitorPush> push = MonitorPush::Start();
  if (push && mailer != nullptr) {
    mailer->SetAlertTextHandler([&push](const AlertText& alert) { push->Alert(alert); });
    mailer->SetClearedHandler([&push](AlertKind kind, unsigned enclosure_index, unsigned port) {
      push->Cleared(kind, enclosure_index, port);
    });
  }
  MonitorAlerts alerts(mailer);
  const std::unique_ptr<EventHookRunner> hook = MakeHookRunner(event_options);
  EventOutput output;
  EventReports reports(output, event_options.json, hook.get());
  session.view().SetAnnounce(true);
  std::optional<MonitoringLoop> loop;
  loop.emplace(session.core(), &alerts, [&session, &alerts, &reports](PositionMask) {
    EchoNewLines(session, alerts.told(), reports);
  });
  AnswerReports answers(session, reports, push.get());
  session.monitor().SetAnswerListener(&answers);
  // A simulated host has no kernel behind it: it is recounted on its own clock.
  std::string why;
  const std::unique_ptr<DeviceChangeWatcher> watcher =
      MakeDeviceWatcher(!session.simulated(), session.disks(), clock, why);
  if (!why.empty()) {
    std::fprintf(stderr, "raidctl: %s; looking for new drives every 5 seconds instead\n",
                 why.c_str());
  }
  loop->Start();

  ClockTimers timers(start);
  ReadinessReport readiness(session, notifier);
  WatchdogFeeder watchdog(notifier, session.clock(), notifier.WatchdogTimeout());
  std::optional<MonitorMetrics> metrics;
  if (metrics_path) {
    metrics.emplace(session, mailer, push ? push->notifier() : nullptr, *metrics_path);
  }
  while (!StopRequested()) {
    const std::uint64_t now = clock.NowMs();
    if (now >= end) break;
    if (TakeReloadRequest()) {
      std::fputs("raidctl: SIGHUP: reading the mail settings and notify.toml again\n", stderr);
      AnnounceMail(mail, mail.ReloadSettings());
      if (push) {
        push->Reload();
        if (metrics) metrics->CountPushChannels(push->notifier());
      }
    }
    if (watcher->TakeChanges()) loop->DeviceChanged();
    timers.FireDue(*loop, now);
    // A SMART pass reads one enclosure per turn, and a status poll that falls due runs before
    // the next.
    const bool worked = loop->WorkerTurn(session.ui());
    // Mail is sent beside the polling, never in its way.
    if (mail_worker && mailer->HasWork()) mail_worker->Wake();
    timers.Follow(*loop, clock.NowMs());
    readiness.AfterCycle();
    if (metrics) metrics->AfterCycle();

    if (worked) continue;  // more items may wait
    WaitUntil(session, *watcher, std::min(timers.NextDue(), end));
  }
  watchdog.Stop();
  notifier.Stopping();
  session.monitor().SetAnswerListener(nullptr);
  if (metrics) metrics->AtStop();
  // A hook still running is ended with all it started; what waits is not run.
  if (hook) hook->Stop();
  session.detector().SaveWaitingLines();  // one last try, said by the listener if it works
  session.detector().SetSaveListener(nullptr);
  loop.reset();
  int exit_code = 0;
  if (const EventDetector& detector = session.detector(); detector.Unsaved()) {
    std::fprintf(stderr, "raidctl: %s\n",
                 UnsavedLinesText(detector.UnsavedLineCount(), detector.UnsavedFiles(), folder,
                                  session.log_store().last_error())
                     .c_str());
    exit_code = 1;
  }
  // The push channels stop beside the mail: each has a grace, and both fit in a few seconds.
  if (push) push->BeginStop();
  const bool mail_ended = !mail_worker || StopMail(*mail_worker, *mailer);
  if (push) {
    push->FinishStop();
    if (metrics) metrics->AtStop();  // with what the channels did in their grace
  }
  if (!mail_ended) {
    // The log and the metrics are written; nothing is gained by waiting for the worker.
    SayStopped(exit_code);
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(exit_code);
  }
  ReportUnsentOnSecondStop(nullptr);
  return exit_code;
}

}  // namespace

int RunMonitorCommand(CliSession& session, std::optional<double> for_seconds,
                      ServiceNotifier& notifier, const MonitorEventOptions& events,
                      const std::optional<std::string>& metrics_path) {
  std::fputs("raidctl: monitor started\n", stderr);
  const int exit_code = Monitor(session, for_seconds, notifier, events, metrics_path);
  SayStopped(exit_code);
  return exit_code;
}

}  // namespace raid::cli
