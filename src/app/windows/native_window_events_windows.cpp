#include <windows.h>
// After windows.h:
#include <dbt.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QWidget>

#include "app/native_window_events.h"

namespace raid {
namespace {

// The USB device interface class {A5DCBF10-6530-11D2-901F-00C04FB951ED}.
constexpr GUID kUsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

class WindowMessageFilter : public QAbstractNativeEventFilter {
 public:
  WindowMessageFilter(HWND window, std::function<void()> device_changed,
                      std::function<bool()> query_end_session)
      : window_(window),
        device_changed_(std::move(device_changed)),
        query_end_session_(std::move(query_end_session)) {}

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override {
    if (type != "windows_generic_MSG") return false;
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->hwnd != window_) return false;
    if (msg->message == WM_DEVICECHANGE) {
      device_changed_();
      *result = TRUE;
      return true;
    }
    if (msg->message == WM_QUERYENDSESSION) {
      *result = query_end_session_() ? TRUE : FALSE;
      return true;
    }
    return false;
  }

 private:
  HWND window_;
  std::function<void()> device_changed_;
  std::function<bool()> query_end_session_;
};

}  // namespace

void InstallNativeWindowEvents(QWidget* window, std::function<void()> device_changed,
                               std::function<bool()> query_end_session) {
  const HWND hwnd = reinterpret_cast<HWND>(window->winId());
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = kUsbDeviceInterface;
  RegisterDeviceNotificationA(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  // Lives as long as the application.
  QCoreApplication::instance()->installNativeEventFilter(
      new WindowMessageFilter(hwnd, std::move(device_changed), std::move(query_end_session)));
}

}  // namespace raid
