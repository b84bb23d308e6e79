// SPDX-License-Identifier: GPL-2.0-or-later
// While a firmware upgrade rewrites the controller's flash, ending raidctl would leave the
// controller erased. From the first erase to the end of the verify, every signal that would end
// or stop it (Ctrl-C, Ctrl-\, Ctrl-Z, SIGTERM, a closed terminal's SIGHUP, SIGUSR1, SIGALRM, the
// real-time signals ...; Ctrl-Break and closing the console on Windows) is held: the first is
// answered once on stderr and the upgrade goes on to its end and its report. A reader of stdout
// that went away stops only the printing. One implementation file per platform.
#pragma once

namespace raid::cli {

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

}  // namespace raid::cli
