// The main window: a thin shell around the monitoring core. It owns the pages, the four timers
// and the three worker threads; its handlers keep the names the window's description gives
// them and delegate. No controller exchange runs on its thread: the workers do them, and what
// they show arrives here as queued calls, in order.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/window_ui_sink.h"
#include "app/window_upgrade_views.h"
#include "device/device_watch.h"
#include "firmware/firmware_image.h"
#include "firmware/keep_awake.h"
#include "firmware/upgrade_firmware.h"
#include "health/smart_page_view.h"
#include "monitor/monitor_core.h"
#include "monitor/worker_threads.h"
#include "notify/alert_mailer.h"
#include "notify/mail_settings.h"
#include "notify/settings_backend.h"
#include "notify/smtp_client.h"
#include "status/controller_status.h"
#include "status/device_captions.h"
#include "status/event_detector.h"
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

struct WindowOptions {
  std::filesystem::path log_folder;
  // The clock and the timers run this much faster (the demo's screenshots and the tests).
  double speed = 1.0;
  // How device changes are noticed: the kernel's events, or a recount every 5 s (simulated
  // hosts, hosts without them).
  bool kernel_device_events = true;
  // Where the mail settings live: the platform's store (the registry key, or settings.toml in
  // RAIDGUI_CONFIG_DIR or the user's settings folder) when not given.
  std::function<std::unique_ptr<SettingsBackend>()> settings_backend;
  // The host description's five lines: this host's (BuildSystemInfo) when not given.
  std::function<std::vector<std::string>()> system_info;
  // The client alert and test mails go out through: libcurl's when not given.
  std::function<std::unique_ptr<SmtpClient>()> smtp_client;
  // The firmware file the user picks, empty when cancelled: the open dialog when not given.
  std::function<std::string()> choose_firmware_file;
  // What keeps the machine up during an upgrade: the platform's sleep inhibitor when not given.
  std::function<std::unique_ptr<KeepAwake>()> keep_awake;
};

class TForm1 : public QMainWindow, private ScheduleView, private LogSaveListener {
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
  EmailPage* email_page() const { return email_page_; }
  MailSettingsStore& mail_settings() { return *mail_settings_; }
  AlertMailer& mailer() { return *mailer_; }

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
  // The Upgrade page's load button: the open dialog, then LoadFirmwareFileAt.
  void Image2_LoadClick();
  // Reads and checks the file on a thread of its own; the outcome is shown, and the image held,
  // once it is back on this thread. Ignored while a load runs.
  void LoadFirmwareFileAt(const std::string& path);
  bool FirmwareLoading() const { return firmware_loading_; }
  const FirmwareImage& firmware_image() const { return firmware_image_; }
  // The upgrade button: maintenance begins here, so that closing is refused from the click on;
  // erase, program and verify run on the upgrade thread.
  void UpgradeFirmware();
  // The last upgrade's outcome, once its thread has ended (for the tests).
  std::optional<UpgradeResult> LastUpgradeResult();
  // The SMART page: ShowSmart, the HDD1 / HDD2 buttons, a table cell selected, and the double
  // click on the countdown line that dumps the first enclosure's SMART sectors.
  void ShowSmart();
  void SmartDriveClick(unsigned drive);
  void StringGrid3SelectCell(int row, int column);
  void SmartStatusLineDblClick();
  const SmartPageView& smart_view() const { return smart_view_; }
  // The E-mail page's buttons.
  void Image3_OKClick();
  void Image3_IgnoreClick();
  void Image3_TestClick();
  void StatusBar1DblClick();
  // A device arrived or left (a device notice, a kernel event): the settle delay starts again.
  void DeviceChanged();
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
  void FormCreate();
  void ShowPage(Page page);
  void MonitorBoxClicked(unsigned position);
  void SyncTimers();
  // A polled position's record as the RAID worker left it, and whether polling gave up on it.
  struct PolledRecord {
    ControllerStatus record;
    bool gave_up = false;
  };
  void OnStatusRefreshed(std::array<PolledRecord, 2> records);
  const PolledRecord* ShownRecord();
  void FollowListSize(std::size_t count);
  void SetUpDeviceWatch(bool kernel_device_events);
  void SetUpMail();
  void SetUpSmart();
  void SetUpUpgrade();
  void WaitForUpgradeThread();
  void ApplyFirmwareLoad(FirmwareLoadResult result);
  SmartDriveRecord ShownSmartRecord();
  std::array<std::string, 2> Hints() const;

  // ScheduleView
  void ShowDetectionText(const std::string& text, bool visible) override;
  void ShowDevice(unsigned position, bool shown) override;
  void EnableControls(bool enabled) override;
  void EnableUpgradeButton(bool enabled) override;
  void ShowEventLogButton() override;
  void SetSmartStatusLine(const std::string& text) override;

  // LogSaveListener: called on the RAID worker, shown on this thread.
  void LogSaveFailed(const std::string& why) override;
  void LogSaveRecovered() override;
  void ReportUnsavedLinesAtClose();

  // A handler connected through this stops its own exception: shown in a box, never carried up
  // through the toolkit's code that called it, which is not made to pass one on.
  template <typename... Args>
  auto Guarded(void (TForm1::*handler)(Args...)) {
    return [this, handler](Args... args) { Guard([&] { (this->*handler)(args...); }); };
  }
  void Guard(const std::function<void()>& work);
  void StopWorkers(const std::function<void()>& meanwhile = {});

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
  // The mail settings, the SMTP client and the mailer outlive the workers that use them.
  std::unique_ptr<SettingsBackend> settings_backend_;
  std::unique_ptr<MailSettingsStore> mail_settings_;
  std::unique_ptr<SmtpClient> smtp_client_;
  std::unique_ptr<AlertMailer> mailer_;
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

  std::uint8_t status_device_ = 0;   // StatusDevice
  std::uint8_t upgrade_device_ = 0;  // UpgradeDevice
  std::uint8_t smart_device_ = 0;    // SmartDevice
  std::uint8_t email_sub_page_ = 0;  // EmailSubPage
  std::array<PolledRecord, 2> polled_records_{};
  SmartPageView smart_view_;  // as last shown
  FirmwareImage firmware_image_;
  std::thread firmware_load_thread_;
  bool firmware_loading_ = false;  // from the load's start until its outcome is applied
  WindowUpgradeViews upgrade_views_{this, upgrade_page_, boxes_, timer1_};
  std::unique_ptr<KeepAwake> keep_awake_;
  std::unique_ptr<raid::UpgradeFirmware> upgrader_;
  std::thread upgrade_thread_;
  std::atomic<bool> upgrade_thread_done_{true};
  std::mutex upgrade_result_mutex_;
  std::optional<UpgradeResult>
      upgrade_result_;  // FirmwareImage: held only when it passed every check
  DeviceCaptions captions_;
  bool viewer_open_ = false;
  bool closing_ = false;
  bool workers_stopped_ = true;
  bool lines_left_unsaved_ = false;
};

}  // namespace raid
