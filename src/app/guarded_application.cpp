// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/guarded_application.h"

#include <QThread>

#include "common/exception_box.h"
#include "gui/widgets/message_boxes.h"

namespace raid {

bool GuardedApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    const MessageBoxRequest box = ExceptionBox(std::current_exception());
    // Message boxes belong to the window thread; an object with an event loop elsewhere sends
    // its box there.
    if (QThread::currentThread() == thread()) {
      ui::ShowMessageBox(activeWindow(), box);
    } else {
      QMetaObject::invokeMethod(
          this, [box] { ui::ShowMessageBox(activeWindow(), box); }, Qt::QueuedConnection);
    }
  }
  return false;
}

}  // namespace raid
