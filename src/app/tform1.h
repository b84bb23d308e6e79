// SPDX-License-Identifier: GPL-2.0-or-later
// The main window: a thin shell around the monitoring core. It owns the pages, the four timers
// and the three worker threads, and binds the widgets to the models: which enclosure each page
// shows (PageSelection), the firmware actions (WindowFirmware), the SMART page (WindowSmart),
// the mail pieces (MailStack) and the push channels (AlertPush). Its handlers keep the names the
// window's description gives them and delegate. No controller exchange runs on its thread: the
// workers do them, and what they show arrives here as queued calls, in order.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "app/window_log_save.h"
#include "app/window_options.h"
#include "device/device_watch.h"
#include "events/shared_event_log.h"
#include "gui/email/window_email.h"
#include "gui/smart/window_smart.h"
#include "gui/upgrade/window_firmware.h"
#include "gui/widgets/guarded_slot.h"
#include "gui/widgets/window_ui_sink.h"
#include "monitor/monitor_core.h"
#include "monitor/monitoring_loop.h"
#include "monitor/page_selection.h"
#include "monitor/worker_threads.h"
#include "notify/mail_stack.h"
#include "notify/push/alert_push.h"
#include "status/device_captions.h"

class QCheckBox;
class QLabel;
class QSocketNotifier;

namespace Ui {
class TForm1;
}

namespace raid {

class AboutPage;
class EmailPage;
class SmartPage;
class StatusPage;
class UpgradePage;

class TForm1 : public QMainWindow, private ScheduleView {
  Q_OBJECT

 public:
  TForm1(DiskSystem& disks, Clock& clock, WindowOptions options, QWidget* parent = nullptr);
  ~TForm1() override;

  MonitorCore& core() { return core_; }
  Page CurrentPage() const { return selection_.current_page(); }
  Clock& clock() { return clock_; }
  const SharedEventLog& event_log() const { return shared_log_; }
  StatusPage* status_page() const { return status_page_; }
  SmartPage* smart_page() const { return smart_page_; }
  UpgradePage* upgrade_page() const { return upgrade_page_; }
  EmailPage* email_page() const { return email_page_; }
  MailSettingsStore& mail_settings() { return mail_->store(); }
  WindowFirmware& firmware() { return *firmware_; }
  WindowSmart& smart() { return *smart_; }
  WindowEmail& email() { return *email_; }

  // The page buttons.
  void Image_StsClick();
  void Image_FWUpgClick();
  void Image_EmailClick();
  void Image_AboutClick();
  void Image_SMARTClick();
  // The monitor boxes "Device1" and "Device2".
  void CheckBox1Click() { MonitorBoxClicked(0); }
  void CheckBox3Click() { MonitorBoxClicked(1); }
  // The device buttons of the Status and Upgrade pages.
  void StatusDeviceClick(unsigned device);
  void UpgradeDeviceClick(unsigned device);
  void Image0_LogClick();
  void StatusBar1DblClick();
  // A device arrived or left (a device notice, a kernel event): the settle delay starts again.
  void DeviceChanged() { loop_->DeviceChanged(); }
  // The session is ending; false refuses it (during an upgrade).
  bool QueryEndSession();

  int RefreshStatusPage(bool force);
  // Also the schedule's, after a list is installed.
  void RefreshDeviceCaptions() override;

  // Whether the closing wait saw the workers end (false: one is stuck in a read).
  bool WorkersStopped() const { return workers_stopped_; }
  // Whether the window closed with lines of the daily log that no file took.
  bool LinesLeftUnsaved() const { return lines_left_unsaved_; }

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormClose
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // FormCreate, by what it sets up.
  void FormCreate();
  void SetUpPages();
  void ConnectHandlers();
  void SetUpTimers();
  void SetUpMail();
  void SetUpPush();
  void SetUpWorkers();
  void SetUpDeviceWatch(bool kernel_device_events);

  void ShowPage(Page page);
  void SwitchToPage(Page page);
  void MonitorBoxClicked(unsigned position);
  void ShowStatusDevice(unsigned device);
  void SyncTimers();
  // The timers' handlers: one call each into the schedule, which names what they do.
  void Timer2Timer();  // RequestStatusPoll
  void Timer3Timer();  // TickSmartCountdown
  void Timer4Timer();  // TickDetection, then the timers follow the schedule
  void OnStatusRefreshed(const std::array<PolledRecord, 2>& records);

  // ScheduleView
  void ShowDetectionText(const std::string& text, bool visible) override;
  void ShowDevice(unsigned position, bool shown) override;
  void EnableControls(bool enabled) override;
  void EnableUpgradeButton(bool enabled) override;
  void ShowEventLogButton() override;
  void SetSmartStatusLine(const std::string& text) override;

  template <typename... Args>
  auto Guarded(void (TForm1::*handler)(Args...)) {
    return raid::Guarded(this, this, handler);
  }
  void StopWorkers(const std::function<void()>& meanwhile = {});

  std::unique_ptr<Ui::TForm1> ui_;
  DiskSystem& disks_;
  Clock& clock_;
  WindowOptions options_;
  std::array<QLabel*, 5> panels_{};
  std::array<QCheckBox*, 2> boxes_{};
  qreal detect_text_points_ = 0;  // the detection text's own size, before it moves under the boxes
  WindowUiSink window_ui_{this, panels_, boxes_};
  QueuedUiSink worker_ui_{this, window_ui_};
  MonitorCore core_;
  PageSelection selection_{core_};
  SharedEventLog shared_log_;
  WindowLogSave log_save_{this, window_ui_, core_};
  // The mail pieces outlive the workers that use them.
  std::unique_ptr<MailStack> mail_;
  std::unique_ptr<AlertPush> push_;  // none without channels
  std::unique_ptr<MonitoringLoop> loop_;
  std::unique_ptr<WorkerThreads> workers_;
  std::unique_ptr<DeviceChangeWatcher> watcher_;
  QSocketNotifier* watcher_notifier_ = nullptr;

  StatusPage* status_page_ = nullptr;
  UpgradePage* upgrade_page_ = nullptr;
  EmailPage* email_page_ = nullptr;
  AboutPage* about_page_ = nullptr;
  SmartPage* smart_page_ = nullptr;

  QTimer timer1_;  // progress display
  QTimer timer2_;  // status poll request
  QTimer timer3_;  // clock and SMART countdown
  QTimer timer4_;  // detection control

  std::unique_ptr<WindowFirmware> firmware_;
  std::unique_ptr<WindowSmart> smart_;
  std::unique_ptr<WindowEmail> email_;
  DeviceCaptions captions_;
  bool viewer_open_ = false;
  bool closing_ = false;
  bool workers_stopped_ = true;
  bool lines_left_unsaved_ = false;
};

}  // namespace raid
