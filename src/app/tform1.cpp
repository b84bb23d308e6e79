// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/tform1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QSocketNotifier>
#include <QStatusBar>

#include "app/event_log_viewer.h"
#include "common/product.h"
#include "gui/about/about_page.h"
#include "gui/email/email_page.h"
#include "gui/smart/smart_page.h"
#include "gui/status/status_page.h"
#include "gui/upgrade/upgrade_page.h"
#include "gui/widgets/message_boxes.h"
#include "gui/widgets/picture.h"
#include "gui/widgets/two_state_image_button.h"
#include "gui/widgets/window_look.h"
#include "notify/curl_smtp_client.h"
#include "notify/mail_worker.h"
#include "notify/push/channel_config.h"
#include "notify/push/curl_http_client.h"
#include "notify/push/push_files.h"
#include "power/session_end.h"
#include "sysinfo/host_info.h"
#include "ui_tform1.h"

namespace raid {
namespace {

constexpr const char* kUpgradingText = "Firmware is upgrading, please wait a moment.";
constexpr const char* kSystemInformationCaption = "System Information";
constexpr const char* kPushOffText = "Push channels are off: ";
// How long closing waits for the workers: a read to a bridge that stopped answering can hold
// one of them until the read's time-out.
constexpr auto kWorkerStopLimit = std::chrono::seconds(5);

int Scaled(std::uint32_t ms, double speed) {
  return std::max(1, static_cast<int>(ms / speed));
}

}  // namespace

TForm1::TForm1(DiskSystem& disks, Clock& clock, WindowOptions options, QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::TForm1>()),
      disks_(disks),
      clock_(clock),
      options_(std::move(options)),
      core_(disks, clock, window_ui_, worker_ui_, *this, options_.log_folder) {
  ui_->setupUi(this);
  // WMI needs COM with packet-level security on this thread before the host is described.
  if (!options_.system_info && !InitializeComForHostQueries()) {
    ui::ShowMessageBox(this, {kMessageCaption, kComSecurityErrorText, MessageIcon::kNone});
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
  }
  FormCreate();
}

TForm1::~TForm1() {
  firmware_->Finish();
  core_.state().shutting_down.store(true);
  StopWorkers();
  loop_.reset();  // alerts are recorded by the core again
  if (workers_stopped_) core_.detector().SetSaveListener(nullptr);
}

void TForm1::FormCreate() {
  SharedState& state = core_.state();
  DressMainWindow(*this);
  panels_ = AddStatusPanels(*ui_->StatusBar1);
  ui_->StatusBar1->installEventFilter(this);
  boxes_ = {ui_->CheckBox1, ui_->CheckBox3};
  SetUpPages();

  // Shared state as at start.
  state.detection.change_counter.store(0);
  state.upgrade.target_selected.store(false);
  state.upgrade.in_progress.store(false);
  state.target.selected_index.store(0);
  state.upgrade.target_index.store(kNoUpgradeTarget);

  ConnectHandlers();
  SetUpTimers();
  SetUpMail();
  SetUpPush();
  email_ = std::make_unique<WindowEmail>(this, email_page_, *mail_);
  smart_ = std::make_unique<WindowSmart>(core_, selection_, this, smart_page_, status_page_,
                                         window_ui_, options_.log_folder);
  firmware_ = std::make_unique<WindowFirmware>(
      core_, selection_,
      WindowFirmware::Parts{this, ui_->StatusBar1, panels_, upgrade_page_, boxes_, timer1_,
                            window_ui_, worker_ui_},
      options_.choose_firmware_file, options_.keep_awake);
  core_.detector().SetSaveListener(&log_save_);
  SetUpWorkers();

  // Page 0, device 0 everywhere, e-mail sub-page 0.
  status_page_->SetShownDevice(0);
  upgrade_page_->SetShownDevice(0);
  smart_page_->SetShownDrive(0);
  ShowPage(kStatusPage);
}

// The pages in the notebook's index order, showing nothing until the first discovery has been
// shown; the product's layout: the Setup page has no button.
void TForm1::SetUpPages() {
  status_page_ = new StatusPage(ui_->Page_Status);
  upgrade_page_ = new UpgradePage(ui_->Page_Upgrade);
  email_page_ = new EmailPage(ui_->Page_Email);
  about_page_ = new AboutPage(ui_->Page_About);
  smart_page_ = new SmartPage(ui_->Page_SMART);

  EnableControls(false);
  status_page_->ShowLogButton(false);
  ui_->CheckBox1->hide();
  ui_->CheckBox3->hide();
  for (unsigned position = 0; position < 2; ++position) {
    status_page_->ShowDeviceButtons(position, false);
    upgrade_page_->ShowDeviceButtons(position, false);
  }
  ui_->Background->setPixmap(ui::Picture(QStringLiteral("background")).pixmap(620, 96));
  setWindowTitle(QString::fromUtf8(kTitleText));
  ui_->Image_Set->hide();
  PlacePageButtons(
      {ui_->Image_Sts, ui_->Image_FWUpg, ui_->Image_Email, ui_->Image_SMART, ui_->Image_About});
  about_page_->SetVersionText(kVersionText);
}

void TForm1::ConnectHandlers() {
  connect(ui_->Image_Sts, &QAbstractButton::clicked, this, Guarded(&TForm1::Image_StsClick));
  connect(ui_->Image_FWUpg, &QAbstractButton::clicked, this, Guarded(&TForm1::Image_FWUpgClick));
  connect(ui_->Image_Email, &QAbstractButton::clicked, this, Guarded(&TForm1::Image_EmailClick));
  connect(ui_->Image_About, &QAbstractButton::clicked, this, Guarded(&TForm1::Image_AboutClick));
  connect(ui_->Image_SMART, &QAbstractButton::clicked, this, Guarded(&TForm1::Image_SMARTClick));
  connect(ui_->CheckBox1, &QAbstractButton::clicked, this, Guarded(&TForm1::CheckBox1Click));
  connect(ui_->CheckBox3, &QAbstractButton::clicked, this, Guarded(&TForm1::CheckBox3Click));
  connect(status_page_, &StatusPage::DeviceClicked, this, Guarded(&TForm1::StatusDeviceClick));
  connect(status_page_, &StatusPage::LogClicked, this, Guarded(&TForm1::Image0_LogClick));
  connect(upgrade_page_, &UpgradePage::DeviceClicked, this, Guarded(&TForm1::UpgradeDeviceClick));
}

// Timer2 and Timer3 start when the schedule switches them on.
void TForm1::SetUpTimers() {
  const double speed = options_.speed;
  timer1_.setInterval(Scaled(1000, speed));
  timer2_.setInterval(Scaled(LoopTimerIntervalMs(LoopTimer::kStatusPoll), speed));
  timer3_.setInterval(Scaled(LoopTimerIntervalMs(LoopTimer::kSmartCountdown), speed));
  timer4_.setInterval(Scaled(LoopTimerIntervalMs(LoopTimer::kDetection), speed));
  connect(&timer2_, &QTimer::timeout, this, &TForm1::Timer2Timer);
  connect(&timer3_, &QTimer::timeout, this, &TForm1::Timer3Timer);
  connect(&timer4_, &QTimer::timeout, this, &TForm1::Timer4Timer);
}

void TForm1::Timer2Timer() {
  loop_->Tick(LoopTimer::kStatusPoll);
}

void TForm1::Timer3Timer() {
  loop_->Tick(LoopTimer::kSmartCountdown);
}

void TForm1::Timer4Timer() {
  loop_->Tick(LoopTimer::kDetection);
  SyncTimers();
}

void TForm1::SetUpMail() {
  MailStackSources sources{options_.settings_backend, nullptr, options_.system_info};
  sources.smtp_client = [make = options_.smtp_client](std::string&) {
    return make ? make() : std::make_unique<CurlSmtpClient>();
  };
  mail_ = std::make_unique<MailStack>(core_.device().registry(), core_.monitor(),
                                      core_.state().mail.request_flags, worker_ui_, clock_,
                                      std::move(sources));
  mail_->DescribeHost();
  if (const std::optional<std::string> problem = mail_->store().CheckAtStart()) {
    ui::ShowMessageBox(this, {kMailMessageCaption, *problem, MessageIcon::kWarning});
  }
}

// Every alert also goes to the push channels of notify.toml, in its mail's words whether it is
// mailed or not, and so does an enclosure that stops or starts answering. A file that cannot be
// used is said once, and no channel hears anything.
void TForm1::SetUpPush() {
  const std::filesystem::path file =
      options_.notify_file.empty() ? NotifyFolder() / kNotifyFileName : options_.notify_file;
  std::vector<ChannelConfig> channels;
  std::string error;
  if (!LoadNotifyChannels(file, channels, error)) {
    window_ui_.SetPanelText(kPushOutcomePanel, kPushOffText + error);
    return;
  }
  if (channels.empty()) return;
  HttpClientFactory factory = options_.http_client;
  if (!factory) factory = [] { return std::make_unique<CurlHttpClient>(); };
  AlertMailer& mailer = *mail_->mailer();
  // The name the host description found at start: asking the host again could block here.
  push_ = std::make_unique<AlertPush>(std::move(channels), std::move(factory),
                                      SystemNameOf(mailer.SystemInfoLines()),
                                      ShowPushOutcomes(worker_ui_));
  mailer.SetAlertTextHandler([push = push_.get()](const AlertText& alert) { push->Alert(alert); });
  mailer.SetClearedHandler([push = push_.get()](AlertKind kind, unsigned enclosure, unsigned port) {
    push->Cleared(kind, enclosure, port);
  });
  core_.monitor().SetAnswerListener(push_.get());
}

// The event detector's alerts go to the mailer. What the RAID worker's poll and detection leave
// reaches the window as a queued call: the log as the viewer shows it, and copies of the records
// the Status page draws.
void TForm1::SetUpWorkers() {
  loop_ = std::make_unique<MonitoringLoop>(core_, mail_->mailer(), [this](PositionMask) {
    shared_log_.Publish(core_.log());
    QMetaObject::invokeMethod(
        this, [this, records = TakePolledRecords(core_)] { OnStatusRefreshed(records); },
        Qt::QueuedConnection);
  });
  loop_->Start();
  workers_ = std::make_unique<WorkerThreads>(core_.schedule(), options_.speed);
  // Mail goes out on the e-mail worker, never on this thread.
  workers_->SetMailLook([mailer = mail_->mailer()] {
    if (!mailer->HasWork()) return false;
    mailer->RunMailWork();
    return true;
  });
  // A worker's exception is shown like a handler's, on this thread; the worker waits for it.
  workers_->SetFailureReport([this](const MessageBoxRequest& box) { worker_ui_.ShowMessage(box); });
  SetUpDeviceWatch(options_.kernel_device_events);
  workers_->Start();
  workers_stopped_ = false;
  timer4_.start();
}

void TForm1::SetUpDeviceWatch(bool kernel_device_events) {
  std::string why;
  watcher_ = MakeDeviceWatcher(kernel_device_events, disks_, clock_, why);
  if (watcher_->WaitHandle() >= 0) {
    watcher_notifier_ = new QSocketNotifier(watcher_->WaitHandle(), QSocketNotifier::Read, this);
    connect(watcher_notifier_, &QSocketNotifier::activated, this, [this] {
      if (watcher_->TakeChanges()) DeviceChanged();
    });
    return;
  }
  // A watcher without a descriptor (Windows' message window, the recount) is asked by the
  // detection thread, since counting opens disks. Making the recount opens none; its first
  // census is taken on that thread too.
  workers_->SetRecountWatcher(watcher_.get(), [this] { loop_->DeviceChanged(); });
}

void TForm1::SyncTimers() {
  for (const auto& [timer, qtimer] : {std::pair{LoopTimer::kStatusPoll, &timer2_},
                                      std::pair{LoopTimer::kSmartCountdown, &timer3_}}) {
    if (loop_->TimerOn(timer) != qtimer->isActive()) {
      loop_->TimerOn(timer) ? qtimer->start() : qtimer->stop();
    }
  }
}

// --- pages ---

void TForm1::ShowPage(Page page) {
  selection_.ShowPage(page);
  ui_->Image_Sts->setCurrent(page == kStatusPage);
  ui_->Image_Set->setCurrent(page == kSetupPage);
  ui_->Image_FWUpg->setCurrent(page == kUpgradePage);
  ui_->Image_Email->setCurrent(page == kEmailPage);
  ui_->Image_About->setCurrent(page == kAboutPage);
  ui_->Image_SMART->setCurrent(page == kSmartPage);
  ui_->Notebook1->setCurrentIndex(page);
  if (page == kStatusPage) RefreshStatusPage(false);
  if (page == kUpgradePage) {
    RefreshDeviceCaptions();
    upgrade_page_->SetVersionText(captions_.firmware_version_text);
  }
}

// What every page button does first: nothing at all while pages may not switch.
void TForm1::SwitchToPage(Page page) {
  if (!selection_.PageSwitchAllowed()) return;
  ShowPage(page);
  if (page == kEmailPage) email_->Open();
  if (page == kSmartPage) smart_->Show();
}

void TForm1::Image_StsClick() {
  SwitchToPage(kStatusPage);
}

void TForm1::Image_FWUpgClick() {
  SwitchToPage(kUpgradePage);
}

void TForm1::Image_EmailClick() {
  SwitchToPage(kEmailPage);
}

void TForm1::Image_AboutClick() {
  SwitchToPage(kAboutPage);
}

void TForm1::Image_SMARTClick() {
  SwitchToPage(kSmartPage);
}

// The Status page shows another enclosure: what it drew belongs to the one before.
void TForm1::ShowStatusDevice(unsigned device) {
  selection_.ShowStatusDevice(device);
  status_page_->SetShownDevice(device);
  status_page_->ForgetShown();
}

void TForm1::StatusDeviceClick(unsigned device) {
  ShowStatusDevice(device);
  RefreshDeviceCaptions();
  RefreshStatusPage(true);
}

void TForm1::UpgradeDeviceClick(unsigned device) {
  if (!selection_.TargetSwitchAllowed()) return;
  selection_.ShowUpgradeDevice(device);
  upgrade_page_->SetShownDevice(device);
  RefreshDeviceCaptions();
  upgrade_page_->SetVersionText(captions_.firmware_version_text);
}

void TForm1::MonitorBoxClicked(unsigned position) {
  const bool checked = boxes_[position]->isChecked();
  if (checked) window_ui_.EndNoResponse(position);
  status_page_->ShowDeviceButtons(position, checked);
  upgrade_page_->ShowDeviceButtons(position, checked);
  bool status_moved = false;
  if (!selection_.MonitorBoxClicked(position, checked, boxes_[1 - position]->isChecked(),
                                    status_moved)) {
    return;
  }
  if (status_moved) ShowStatusDevice(selection_.status_device());
  RefreshDeviceCaptions();
  ShowPage(selection_.current_page());
  if (selection_.current_page() == kStatusPage) RefreshStatusPage(true);
}

// --- the Status page ---

void TForm1::OnStatusRefreshed(const std::array<PolledRecord, 2>& records) {
  selection_.SetPolledRecords(records);
  RefreshStatusPage(false);
}

int TForm1::RefreshStatusPage(bool force) {
  return status_page_->RefreshStatusPage(selection_.StatusInput(captions_), force);
}

void TForm1::RefreshDeviceCaptions() {
  const PageSelection::Moved moved = selection_.FollowListSize();
  if (moved.status) {
    status_page_->SetShownDevice(selection_.status_device());
    status_page_->ForgetShown();
  }
  if (moved.upgrade) upgrade_page_->SetShownDevice(selection_.upgrade_device());
  // Without an enclosure the title loses its model and the Status page its values.
  const EnclosureRegistry& registry = core_.device().registry();
  const bool none = registry.current.empty();
  if (!none && !boxes_[0]->isChecked() && !boxes_[1]->isChecked()) return;
  captions_ = ComputeDeviceCaptions(registry, selection_.SelectForCaptions());
  core_.state().target.scan_capable_firmware.store(captions_.scan_capable_firmware);
  std::array<std::string, 2> hints;
  for (std::size_t position = 0; position < 2 && position < captions_.hints.size(); ++position)
    hints[position] = captions_.hints[position];
  for (std::size_t position = 0; position < 2; ++position)
    boxes_[position]->setToolTip(QString::fromStdString(hints[position]));
  status_page_->SetDeviceHints(hints);
  upgrade_page_->SetDeviceHints(hints);
  setWindowTitle(QString::fromStdString(captions_.window_caption));
  // The title and button of another enclosure go with its values, or with none.
  if (none || moved.status) RefreshStatusPage(true);
}

void TForm1::Image0_LogClick() {
  if (viewer_open_) return;  // one viewer at a time
  viewer_open_ = true;
  TForm5 viewer(shared_log_, core_.state(), Scaled(1000, options_.speed), this);
  viewer.exec();
  viewer_open_ = false;
}

void TForm1::StatusBar1DblClick() {
  ui::ShowMessageBox(this,
                     {kSystemInformationCaption, JoinSystemInfo(mail_->mailer()->SystemInfoLines()),
                      MessageIcon::kNone});
}

// --- the schedule's view ---

void TForm1::ShowDetectionText(const std::string& text, bool visible) {
  // In the boxes' place while none is shown; on the narrow line under them beside them.
  const bool beside_boxes = !boxes_[0]->isHidden() || !boxes_[1]->isHidden();
  ui_->DetectText->setGeometry(beside_boxes ? QRect(300, 78, 312, 14) : QRect(392, 58, 220, 28));
  QFont font = ui_->DetectText->font();
  if (detect_text_points_ <= 0) detect_text_points_ = font.pointSizeF();
  font.setPointSizeF(detect_text_points_ * (beside_boxes ? 0.8 : 1.0));
  ui_->DetectText->setFont(font);
  ui_->DetectText->setText(QString::fromStdString(text));
  ui_->DetectText->setVisible(visible);
}

void TForm1::ShowDevice(unsigned position, bool shown) {
  window_ui_.EndNoResponse(position);  // another list
  boxes_[position]->setVisible(shown);
  boxes_[position]->setChecked(shown);
  status_page_->ShowDeviceButtons(position, shown);
  upgrade_page_->ShowDeviceButtons(position, shown);
  // Another list: what the page drew belongs to the enclosures before it.
  status_page_->ForgetShown();
}

void TForm1::EnableControls(bool enabled) {
  for (ui::TwoStateImageButton* button : {ui_->Image_Sts, ui_->Image_Set, ui_->Image_FWUpg,
                                          ui_->Image_Email, ui_->Image_SMART, ui_->Image_About}) {
    button->setEnabled(enabled);
  }
  upgrade_page_->EnableLoadButton(enabled);
  upgrade_page_->EnableUpgradeButton(enabled);
  // No enclosure is left: the SMART page would show a drive that is gone, with its buttons
  // disabled and its countdown stopped. The Status page says what is known.
  if (!enabled && smart_) {
    smart_->Blank();
    if (selection_.current_page() == kSmartPage) ShowPage(kStatusPage);
  }
}

void TForm1::EnableUpgradeButton(bool enabled) {
  upgrade_page_->EnableUpgradeButton(enabled);
}

void TForm1::ShowEventLogButton() {
  status_page_->ShowLogButton(true);
}

void TForm1::SetSmartStatusLine(const std::string& text) {
  smart_page_->SetStatusLine(text);
}

// --- session, closing ---

bool TForm1::QueryEndSession() {
  if (!SessionMayEnd(core_.state())) {
    ui::ShowMessageBox(this, {kMessageCaption, kUpgradingText, MessageIcon::kNone});
    return false;
  }
  close();
  return true;
}

void TForm1::closeEvent(QCloseEvent* event) {
  SharedState& state = core_.state();
  if (state.upgrade.in_progress.load()) {
    ui::ShowMessageBox(this, {kMessageCaption, kUpgradingText, MessageIcon::kNone});
    event->ignore();
    return;
  }
  // A second close while the first waits for the workers: the first one ends it.
  if (closing_) {
    event->ignore();
    return;
  }
  closing_ = true;
  state.shutting_down.store(true);
  state.polling.work_requests.store(0);
  for (QTimer* timer : {&timer1_, &timer2_, &timer3_, &timer4_})
    timer->stop();
  worker_ui_.Close();
  if (workers_) {
    // A worker inside a slow exchange may take seconds to stop: the window goes at once, and
    // this thread goes on serving its events while it waits.
    hide();
    QGuiApplication::sync();  // the window system learns it now, not after the wait
  }
  StopWorkers([] { QCoreApplication::processEvents(); });
  if (workers_stopped_) lines_left_unsaved_ = log_save_.ReportUnsavedLinesAtClose();
  firmware_->ReleaseImage();
  event->accept();
}

// What is due may still go out within the mail grace; then the mail under way is cancelled. The
// push channels stop beside it, each with a grace of its own, so a dead service adds no wait.
void TForm1::StopWorkers(const std::function<void()>& meanwhile) {
  if (push_) push_->BeginStop();
  if (workers_ && !workers_stopped_) {
    workers_stopped_ = workers_->StopWithin(
        kMailStopGrace, kWorkerStopLimit, [this] { mail_->mailer()->Cancel(); }, meanwhile);
  }
  if (push_) push_->FinishStop(meanwhile);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_->StatusBar1 && event->type() == QEvent::MouseButtonDblClick) {
    StatusBar1DblClick();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace raid
