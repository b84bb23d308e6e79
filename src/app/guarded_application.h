// SPDX-License-Identifier: GPL-2.0-or-later
// The program's QApplication. An exception that escapes an event handler, a slot, a timer or a
// queued call is shown in a message box with its text, and the event loop goes on: one faulty
// handler must not take the monitoring (or an upgrade under way) down with the process.
//
// Caught here rather than around each handler: every handler, timer and queued call is entered
// through notify(), so one place covers those written tomorrow too, and Qt asks that no
// exception pass through its own code beyond this point.
#pragma once

#include <QApplication>

namespace raid {

class GuardedApplication : public QApplication {
 public:
  GuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace raid
