// The main window: a thin shell around the monitoring core. It owns the pages, the four timers
// and the three worker threads; its handlers keep the names the window's description gives
// them and delegate. No controller exchange runs on its thread: the workers do them, and what
// they show arrives here as queued calls, in order.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/monitor_core.h"
#include "app/window_ui_sink.h"
#include "app/window_workers.h"
#include "device/device_watch.h"
#include "status/controller_status.h"
#include "status/device_captions.h"
#include "status/shared_event_log.h"

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

// Notebook pages, in their index order.
enum Page : std::uint8_t {
  kStatusPage = 0,
  kSetupPage = 1,
  kUpgradePage = 2,
  kEmailPage = 3,
  kAboutPage = 4,
  kSmartPageIndex = 5,
};

struct WindowOptions {
  std::filesystem::path log_folder;
  // The clock and the timers run this much faster (the demo's screenshots and the tests).
  double speed = 1.0;
  // How device changes are noticed: the kernel's events, or a recount every 5 s (simulated
  // hosts, hosts without them).
  bool kernel_device_events = true;
};

class TForm1 : public QMainWindow, private ScheduleView {
  Q_OBJECT

 public:
  TForm1(DiskSystem& disks, Clock& clock, WindowOptions options, QWidget* parent = nullptr);
  ~TForm1() override;

  MonitorCore& core() { return core_; }
  Clock& clock() { return clock_; }
  const SharedEventLog& event_log() const { return shared_log_; }
  StatusPage* status_page() const { return status_page_; }
  SmartPage* smart_page() const { return smart_page_; }
  UpgradePage* upgrade_page() const { return upgrade_page_; }
  const std::vector<std::string>& SystemInfoLines() const { return system_info_lines_; }
  void SetSystemInfoLines(std::vector<std::string> lines) { system_info_lines_ = std::move(lines); }

  // The page buttons.
  void Image_StsClick();
  void Image_FWUpgClick();
  void Image_EmailClick();
  void Image_AboutClick();
  void Image_SMARTClick();
  // The monitor boxes "Device1" and "Device2".
  void CheckBox1Click();
  void CheckBox3Click();
  // The device buttons of the Status and Upgrade pages.
  void StatusDeviceClick(unsigned device);
  void UpgradeDeviceClick(unsigned device);
  void Image0_LogClick();
  void StatusBar1DblClick();
  // A device arrived or left (WM_DEVICECHANGE, a kernel event): the settle delay starts again.
  void DeviceChanged();
  // The session is ending; false refuses it (during an upgrade).
  bool QueryEndSession();

  int RefreshStatusPage(bool force);
  // Also the schedule's, after a list is installed.
  void RefreshDeviceCaptions() override;

  // Whether the closing wait saw the workers end (false: one is stuck in a read).
  bool WorkersStopped() const { return workers_stopped_; }

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormClose
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void ShowPage(Page page);
  void MonitorBoxClicked(unsigned position);
  void SyncTimers();
  void OnStatusRefreshed(std::uint8_t mask, std::array<ControllerStatus, 2> records);
  void SetUpDeviceWatch(bool kernel_device_events);
  std::array<std::string, 2> Hints() const;

  // ScheduleView
  void ShowDetectionText(const std::string& text, bool visible) override;
  void ShowDevice(unsigned position, bool shown) override;
  void EnableControls(bool enabled) override;
  void EnableUpgradeButton(bool enabled) override;
  void ShowEventLogButton() override;
  void SetSmartStatusLine(const std::string& text) override;

  std::unique_ptr<Ui::TForm1> ui_;
  DiskSystem& disks_;
  Clock& clock_;
  WindowOptions options_;
  std::array<QLabel*, 5> panels_{};
  std::array<QCheckBox*, 2> boxes_{};
  WindowUiSink window_ui_{this, panels_, boxes_};
  QueuedUiSink worker_ui_{this, window_ui_};
  MonitorCore core_;
  SharedEventLog shared_log_;
  std::unique_ptr<WindowWorkers> workers_;
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

  std::uint8_t status_device_ = 0;   // StatusDevice
  std::uint8_t upgrade_device_ = 0;  // UpgradeDevice
  std::uint8_t smart_device_ = 0;    // SmartDevice
  std::uint8_t email_sub_page_ = 0;  // EmailSubPage
  std::array<ControllerStatus, 2> shown_records_{};
  DeviceCaptions captions_;
  std::vector<std::string> system_info_lines_;
  bool viewer_open_ = false;
  bool workers_stopped_ = true;
};

}  // namespace raid
