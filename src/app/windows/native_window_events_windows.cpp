// SPDX-License-Identifier: GPL-2.0-or-later
// Only the adapter between Qt's native events and the Qt-free answer, which is tested without Qt:
// this file holds no decision of its own.
#include <windows.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QWidget>
#include <optional>

#include "app/native_window_events.h"
#include "power/windows/session_end_message.h"

namespace raid {
namespace {

class WindowMessageFilter : public QAbstractNativeEventFilter {
 public:
  WindowMessageFilter(HWND window, std::function<bool()> query_end_session)
      : window_(window), query_end_session_(std::move(query_end_session)) {}

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override {
    if (type != "windows_generic_MSG") return false;
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->hwnd != window_) return false;
    const std::optional<LRESULT> answer = AnswerSessionEnd(msg->message, query_end_session_);
    if (answer) *result = *answer;
    return answer.has_value();
  }

 private:
  HWND window_;
  std::function<bool()> query_end_session_;
};

}  // namespace

void InstallNativeWindowEvents(QWidget* window, std::function<bool()> query_end_session) {
  // Lives as long as the application.
  QCoreApplication::instance()->installNativeEventFilter(new WindowMessageFilter(
      reinterpret_cast<HWND>(window->winId()), std::move(query_end_session)));
}

}  // namespace raid
