// SPDX-License-Identifier: GPL-2.0-or-later
// What raidctl asks of the operating system, one section per concern. Each section has one
// implementation file per platform, named after it: posix/NAME_posix.cpp and
// windows/NAME_windows.cpp (stop_request.cpp holds what both share).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "cli/journal_lines.h"

namespace raid::cli {

// --- stop_request: how a long-running command learns that it should stop, and how it waits
// meanwhile.

// The first SIGINT or SIGTERM (Ctrl-C, Ctrl-Break or closing the console on Windows) asks for
// an orderly stop; a second one ends the process at once, even inside a read that hangs.
void InstallStopHandlers();
// The second request still says how many alert mails are left unsent ("raidctl: N alert
// mail(s) not sent: the monitor stopped") when `counter` is set and above zero; null: nothing.
void ReportUnsentOnSecondStop(const std::atomic<std::size_t>* counter);
// That line for `count`, written without allocating: into `buffer`, returning its length.
std::size_t UnsentLine(std::size_t count, char* buffer, std::size_t size);
inline constexpr std::string_view kUnsentLineEnd = " alert mail(s) not sent: the monitor stopped\n";
bool StopRequested();
void ClearStopRequest();

// A reader of our output that goes away makes writes fail instead of ending the process.
void IgnoreBrokenPipe();

// Waits up to `ms` real milliseconds for `handle` (a descriptor; -1 for none) to become
// readable or for a stop request (on POSIX any caught signal, a reload request too). True when
// the handle became readable.
bool WaitForHandle(int handle, std::uint32_t ms);

// --- reload_request: how a long-running command learns that it should read its settings
// again: SIGHUP, as daemons take it. Windows has no such signal; there it is never asked.

void InstallReloadHandler();
// Whether a reload was asked for since the last TakeReloadRequest, which clears it.
bool ReloadRequested();
bool TakeReloadRequest();

// --- held_stop_signals: while a firmware upgrade rewrites the controller's flash, ending
// raidctl would leave the controller erased. From the first erase to the end of the verify,
// every signal that would end or stop it (Ctrl-C, Ctrl-\, Ctrl-Z, SIGTERM, a closed terminal's
// SIGHUP, SIGUSR1, SIGALRM, the real-time signals ...; Ctrl-Break and closing the console on
// Windows) is held: the first is answered once on stderr and the upgrade goes on to its end and
// its report. A reader of stdout that went away stops only the printing.

class HeldStopSignals {
 public:
  HeldStopSignals();
  // What was there before is in place again; a request that came meanwhile ends nothing.
  ~HeldStopSignals();
  HeldStopSignals(const HeldStopSignals&) = delete;
  HeldStopSignals& operator=(const HeldStopSignals&) = delete;
};

// What the first held request is answered with.
inline constexpr const char* kUpgradeWillNotStopText =
    "raidctl: the firmware upgrade is in progress and will not stop; it finishes and reports "
    "as usual\n";

// --- service_notifier: what `raidctl monitor` tells the service manager that started it: that
// it is ready, that it is still alive, and that it stops. Started any other way, it tells
// nobody.

class ServiceNotifier {
 public:
  virtual ~ServiceNotifier() = default;
  // The first list is installed; `status` is the one line the manager shows for the service.
  virtual void Ready(const std::string& status) = 0;
  virtual void Status(const std::string& status) = 0;
  // The watchdog is petted, when the manager keeps one. May be called from any thread.
  virtual void Alive() = 0;
  // The watchdog's time-out; zero when the manager keeps none for this process.
  virtual std::chrono::microseconds WatchdogTimeout() const = 0;
  virtual void Stopping() = 0;
};

// systemd's notify socket on Linux; nothing on Windows.
std::unique_ptr<ServiceNotifier> CreatePlatformServiceNotifier();

// --- terminal: whether raidctl's standard streams are a terminal: a person who can answer a
// question and watch a progress bar redrawn in place.

bool StandardInputIsTerminal();
bool StandardErrorIsTerminal();

// --- secret_input: a password typed at a prompt.

// Reads one line from standard input without echoing it when it is a terminal. False at the end
// of the input.
bool ReadSecretLine(const char* prompt, std::string& line);

// --- journal_stderr: raidctl's stderr when it is the journal's stream. While a JournalStderr
// lives, each line written to stderr goes out with its priority in front (journal_lines.h). On a
// terminal, in a file that JOURNAL_STREAM does not name, and on Windows, nothing changes.

// Whether stderr is the stream that JOURNAL_STREAM names.
bool StderrIsJournal();

class JournalStderr {
 public:
  JournalStderr();
  ~JournalStderr();
  JournalStderr(const JournalStderr&) = delete;
  JournalStderr& operator=(const JournalStderr&) = delete;
};

// Whether a JournalStderr prefixes stderr's lines now.
bool StderrLinesArePrefixed();

// One line (without its line feed) on stderr with the priority given, whatever its words are:
// a message box's icon says it, and a hook's output may not choose its own.
void WriteStderrLine(LinePriority priority, std::string_view line);

}  // namespace raid::cli
