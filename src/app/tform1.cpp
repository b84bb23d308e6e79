#include "app/tform1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QSocketNotifier>
#include <QStatusBar>

#include "app/about_page.h"
#include "common/exception_box.h"
#include "common/product.h"
#include "firmware/upgrade_page.h"
#include "health/smart_page.h"
#include "notify/curl_smtp_client.h"
#include "notify/email_page.h"
#include "notify/mail_worker.h"
#include "power/session_end.h"
#include "status/event_log_viewer.h"
#include "status/log_save_texts.h"
#include "status/status_page.h"
#include "sysinfo/host_info.h"
#include "ui/message_boxes.h"
#include "ui/pixel_font.h"
#include "ui/two_state_image_button.h"
#include "ui_tform1.h"

namespace raid {
namespace {

constexpr const char* kUpgradingText = "Firmware is upgrading, please wait a moment.";
constexpr const char* kSystemInformationCaption = "System Information";
// The widest panel, where the results of longer operations go.
constexpr int kLogSavingPanel = 4;
constexpr std::array<int, 5> kPanelWidths = {100, 80, 80, 100, 250};
// The design positions of the six page buttons; the shown ones take them in order.
constexpr std::array<int, 6> kButtonSlotTops = {104, 160, 216, 272, 328, 384};
constexpr int kButtonSlotLeft = 12;
// How long closing waits for the workers: a read to a bridge that stopped answering can hold
// one of them until the read's time-out.
constexpr auto kWorkerStopLimit = std::chrono::seconds(5);
// While it waits, the window thread looks at its events this often.
constexpr auto kWorkerStopStep = std::chrono::milliseconds(5);

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
  WaitForUpgradeThread();
  // A load's outcome that has not been applied is dropped with the window.
  if (firmware_load_thread_.joinable()) firmware_load_thread_.join();
  core_.state().shutting_down.store(true);
  StopWorkers();
  core_.alerts().SetTarget(nullptr);
  if (workers_stopped_) core_.detector().SetSaveListener(nullptr);
}

void TForm1::FormCreate() {
  SharedState& state = core_.state();
  setWindowIcon(QIcon(QStringLiteral(":/pictures/icon.svg")));
  setFixedSize(620, 440);
  // A window of fixed size: it may be made small or closed, never maximised; it opens in the
  // middle of the screen it is on.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame(QPoint(0, 0), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  setFont(QFont(QStringLiteral("Arial"), -1));
  QFont window_font = font();
  window_font.setPixelSize(13);
  setFont(window_font);
  setAutoFillBackground(true);
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);

  // The status bar's five panels.
  for (std::size_t i = 0; i < panels_.size(); ++i) {
    panels_[i] = new QLabel(this);
    panels_[i]->setObjectName(QStringLiteral("Panel%1").arg(i));
    panels_[i]->setFixedWidth(kPanelWidths[i]);
    panels_[i]->setFont(ui::PixelFont(11));
    ui_->StatusBar1->addWidget(panels_[i]);
  }
  ui_->StatusBar1->installEventFilter(this);
  boxes_ = {ui_->CheckBox1, ui_->CheckBox3};

  // The pages, in the notebook's index order.
  status_page_ = new StatusPage(ui_->Page_Status);
  upgrade_page_ = new UpgradePage(ui_->Page_Upgrade);
  email_page_ = new EmailPage(ui_->Page_Email);
  about_page_ = new AboutPage(ui_->Page_About);
  smart_page_ = new SmartPage(ui_->Page_SMART);

  // Shared state as at start.
  state.device_change_counter.store(0);
  state.upgrade_target_selected.store(false);
  state.upgrade_in_progress.store(false);
  state.selected_device_index.store(0);
  state.upgrade_target_index.store(kNoUpgradeTarget);

  // Everything shows nothing until the first discovery has been shown.
  for (ui::TwoStateImageButton* button : {ui_->Image_Sts, ui_->Image_Set, ui_->Image_FWUpg,
                                          ui_->Image_Email, ui_->Image_SMART, ui_->Image_About}) {
    button->setEnabled(false);
  }
  upgrade_page_->EnableLoadButton(false);
  upgrade_page_->EnableUpgradeButton(false);
  status_page_->ShowLogButton(false);
  ui_->CheckBox1->hide();
  ui_->CheckBox3->hide();
  for (unsigned position = 0; position < 2; ++position) {
    status_page_->ShowDeviceButtons(position, false);
    upgrade_page_->ShowDeviceButtons(position, false);
  }

  // The product layout: the Setup page has no button, the shown ones fill the slots in order.
  ui_->Background->setPixmap(QIcon(QStringLiteral(":/pictures/background.svg")).pixmap(620, 96));
  setWindowTitle(QString::fromUtf8(kTitleText));
  ui_->Image_Set->hide();
  std::size_t slot = 0;
  for (ui::TwoStateImageButton* button :
       {ui_->Image_Sts, ui_->Image_FWUpg, ui_->Image_Email, ui_->Image_SMART, ui_->Image_About}) {
    button->move(kButtonSlotLeft, kButtonSlotTops[slot++]);
  }
  about_page_->SetVersionText(kVersionText);

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
  connect(email_page_, &EmailPage::SubPageClicked, this, [this](unsigned sub_page) {
    email_sub_page_ = static_cast<std::uint8_t>(sub_page);
    email_page_->ShowSubPage(sub_page);
  });
  connect(email_page_, &EmailPage::OkClicked, this, Guarded(&TForm1::Image3_OKClick));
  connect(email_page_, &EmailPage::IgnoreClicked, this, Guarded(&TForm1::Image3_IgnoreClick));
  connect(email_page_, &EmailPage::TestClicked, this, Guarded(&TForm1::Image3_TestClick));

  // What the RAID worker's poll and detection leave reaches the window as a queued call: the
  // log as the viewer shows it, and copies of the records the Status page draws.
  core_.SetAfterDetection([this](std::uint8_t /*mask*/) {
    shared_log_.Publish(core_.log());
    std::array<PolledRecord, 2> records{};
    const EnclosureRegistry& registry = core_.device().registry();
    for (unsigned position = 0; position < 2 && position < registry.current.size(); ++position) {
      const unsigned slot = DriveNumberOf(registry.current[position].device_code);
      records[position] = {core_.monitor().Record(slot), core_.monitor().GaveUp(slot)};
    }
    QMetaObject::invokeMethod(
        this, [this, records] { OnStatusRefreshed(records); }, Qt::QueuedConnection);
  });

  // The timers; Timer2 and Timer3 start when the schedule switches them on.
  const double speed = options_.speed;
  timer1_.setInterval(Scaled(1000, speed));
  timer2_.setInterval(Scaled(kPollTimerMs, speed));
  timer3_.setInterval(Scaled(kClockTimerMs, speed));
  timer4_.setInterval(Scaled(kDetectionTimerMs, speed));
  connect(&timer2_, &QTimer::timeout, this, [this] { core_.schedule().Timer2Timer(); });
  connect(&timer3_, &QTimer::timeout, this, [this] { core_.schedule().Timer3Timer(); });
  connect(&timer4_, &QTimer::timeout, this, [this] {
    core_.schedule().Timer4Timer();
    SyncTimers();
  });

  SetUpMail();
  SetUpSmart();
  SetUpUpgrade();
  core_.detector().SetSaveListener(this);
  core_.schedule().Start();
  workers_ = std::make_unique<WorkerThreads>(core_.schedule(), speed);
  // Mail goes out on the e-mail worker, never on this thread.
  workers_->SetMailLook([this] {
    if (!mailer_->HasWork()) return false;
    mailer_->RunMailWork();
    return true;
  });
  // A worker's exception is shown like a handler's, on this thread; the worker waits for it.
  workers_->SetFailureReport([this](const MessageBoxRequest& box) { worker_ui_.ShowMessage(box); });
  SetUpDeviceWatch(options_.kernel_device_events);
  workers_->Start();
  workers_stopped_ = false;
  timer4_.start();

  // Page 0, device 0 everywhere, e-mail sub-page 0.
  status_device_ = 0;
  upgrade_device_ = 0;
  smart_device_ = 0;
  email_sub_page_ = 0;
  status_page_->SetShownDevice(0);
  upgrade_page_->SetShownDevice(0);
  smart_page_->SetShownDrive(0);
  email_page_->ShowSubPage(0);
  ShowPage(kStatusPage);
}

void TForm1::SetUpDeviceWatch(bool kernel_device_events) {
  std::string why;
  if (kernel_device_events) watcher_ = CreatePlatformDeviceWatcher(&why);
  if (watcher_ && watcher_->WaitHandle() >= 0) {
    watcher_notifier_ = new QSocketNotifier(watcher_->WaitHandle(), QSocketNotifier::Read, this);
    connect(watcher_notifier_, &QSocketNotifier::activated, this, [this] {
      if (watcher_->TakeChanges()) DeviceChanged();
    });
    return;
  }
  // A watcher without a descriptor (Windows' message window) is asked by the detection thread.
  // Without one at all, that thread recounts every 5 s, since counting opens disks. Making the
  // recount opens none; its first census is taken on that thread too.
  if (!watcher_) watcher_ = std::make_unique<RecountWatcher>(disks_, clock_);
  workers_->SetRecountWatcher(watcher_.get(), [this] { core_.schedule().DeviceChanged(); });
}

// The settings store, the SMTP client and the mailer, and the host description every mail
// carries; the event detector's alerts go to the mailer from now on.
void TForm1::SetUpMail() {
  SharedState& state = core_.state();
  settings_backend_ =
      options_.settings_backend ? options_.settings_backend() : MakePlatformSettingsBackend();
  mail_settings_ =
      std::make_unique<MailSettingsStore>(*settings_backend_, state.mail_request_flags);
  smtp_client_ = options_.smtp_client ? options_.smtp_client() : std::make_unique<CurlSmtpClient>();
  mailer_ =
      std::make_unique<AlertMailer>(*mail_settings_, *smtp_client_, core_.device().registry(),
                                    core_.monitor(), state.mail_request_flags, worker_ui_, clock_);
  mailer_->SetSystemInfoLines(options_.system_info ? options_.system_info()
                                                   : BuildSystemInfo(CreatePlatformHostInfo()));
  if (const std::optional<std::string> problem = mail_settings_->CheckAtStart()) {
    ui::ShowMessageBox(this, {kMailMessageCaption, *problem, MessageIcon::kWarning});
  }
  core_.alerts().SetTarget(mailer_.get());
}

void TForm1::SyncTimers() {
  const PollingSchedule& schedule = core_.schedule();
  if (schedule.Timer2On() != timer2_.isActive()) {
    schedule.Timer2On() ? timer2_.start() : timer2_.stop();
  }
  if (schedule.Timer3On() != timer3_.isActive()) {
    schedule.Timer3On() ? timer3_.start() : timer3_.stop();
  }
}

// --- pages ---

void TForm1::ShowPage(Page page) {
  SharedState& state = core_.state();
  state.current_page.store(page);
  ui_->Image_Sts->setCurrent(page == kStatusPage);
  ui_->Image_Set->setCurrent(page == kSetupPage);
  ui_->Image_FWUpg->setCurrent(page == kUpgradePage);
  ui_->Image_Email->setCurrent(page == kEmailPage);
  ui_->Image_About->setCurrent(page == kAboutPage);
  ui_->Image_SMART->setCurrent(page == kSmartPage);
  ui_->Notebook1->setCurrentIndex(page);
  switch (page) {
    case kStatusPage:
      state.selected_device_index.store(status_device_);
      RefreshStatusPage(false);
      break;
    case kUpgradePage:
      state.selected_device_index.store(upgrade_device_);
      RefreshDeviceCaptions();
      upgrade_page_->SetVersionText(captions_.firmware_version_text);
      break;
    default:
      break;
  }
}

void TForm1::Image_StsClick() {
  const SharedState& state = core_.state();
  if (state.initial_detection.load() || state.upgrade_target_index.load() != kNoUpgradeTarget) {
    return;
  }
  ShowPage(kStatusPage);
}

void TForm1::Image_FWUpgClick() {
  const SharedState& state = core_.state();
  if (state.initial_detection.load() || state.upgrade_target_index.load() != kNoUpgradeTarget) {
    return;
  }
  ShowPage(kUpgradePage);
}

void TForm1::Image_EmailClick() {
  const SharedState& state = core_.state();
  if (state.initial_detection.load() || state.upgrade_target_index.load() != kNoUpgradeTarget) {
    return;
  }
  ShowPage(kEmailPage);
  email_page_->Open(mail_settings_->Snapshot());
  email_page_->ShowSubPage(email_sub_page_);
}

void TForm1::Image_AboutClick() {
  const SharedState& state = core_.state();
  if (state.initial_detection.load() || state.upgrade_target_index.load() != kNoUpgradeTarget) {
    return;
  }
  ShowPage(kAboutPage);
}

void TForm1::Image_SMARTClick() {
  const SharedState& state = core_.state();
  if (state.initial_detection.load() || state.upgrade_target_index.load() != kNoUpgradeTarget) {
    return;
  }
  ShowPage(kSmartPage);
  ShowSmart();
}

void TForm1::StatusDeviceClick(unsigned device) {
  status_device_ = static_cast<std::uint8_t>(device);
  core_.state().selected_device_index.store(status_device_);
  status_page_->SetShownDevice(device);
  status_page_->ForgetShown();
  RefreshDeviceCaptions();
  RefreshStatusPage(true);
}

void TForm1::UpgradeDeviceClick(unsigned device) {
  if (core_.state().upgrade_target_index.load() != kNoUpgradeTarget) return;
  upgrade_device_ = static_cast<std::uint8_t>(device);
  core_.state().selected_device_index.store(upgrade_device_);
  upgrade_page_->SetShownDevice(device);
  RefreshDeviceCaptions();
  upgrade_page_->SetVersionText(captions_.firmware_version_text);
}

// --- monitor boxes ---

void TForm1::CheckBox1Click() {
  MonitorBoxClicked(0);
}

void TForm1::CheckBox3Click() {
  MonitorBoxClicked(1);
}

void TForm1::MonitorBoxClicked(unsigned position) {
  SharedState& state = core_.state();
  QCheckBox* box = position == 0 ? ui_->CheckBox1 : ui_->CheckBox3;
  QCheckBox* other = position == 0 ? ui_->CheckBox3 : ui_->CheckBox1;
  const bool checked = box->isChecked();
  state.monitor_checked[position].store(checked);
  status_page_->ShowDeviceButtons(position, checked);
  upgrade_page_->ShowDeviceButtons(position, checked);
  const auto other_position = static_cast<std::uint8_t>(1 - position);
  if (checked) {
    if (!other->isChecked()) {
      status_device_ = static_cast<std::uint8_t>(position);
      state.selected_device_index.store(status_device_);
      status_page_->SetShownDevice(position);
      status_page_->ForgetShown();
      ShowPage(static_cast<Page>(state.current_page.load()));
    }
  } else {
    if (!other->isChecked()) return;
    status_device_ = other_position;
    state.selected_device_index.store(status_device_);
    status_page_->SetShownDevice(other_position);
    status_page_->ForgetShown();
    ShowPage(static_cast<Page>(state.current_page.load()));
  }
  core_.monitor().RequestErrorCountReset(position);
  RefreshDeviceCaptions();
  ShowPage(static_cast<Page>(state.current_page.load()));
  if (state.current_page.load() == kStatusPage) RefreshStatusPage(true);
}

// --- the Status page ---

void TForm1::OnStatusRefreshed(std::array<PolledRecord, 2> records) {
  polled_records_ = records;
  RefreshStatusPage(false);
}

// The shown enclosure as the last poll left it, found by its drive: a list installed since that
// poll may have moved it, or taken it away. Never a zeroed record or another enclosure's.
const TForm1::PolledRecord* TForm1::ShownRecord() {
  const std::vector<EnclosureInfo>& current = core_.device().registry().current;
  if (status_device_ >= current.size()) return nullptr;
  const unsigned slot = DriveNumberOf(current[status_device_].device_code);
  for (const PolledRecord& polled : polled_records_) {
    if (polled.record.IsFilledFor(slot)) return &polled;
  }
  return nullptr;
}

int TForm1::RefreshStatusPage(bool force) {
  const SharedState& state = core_.state();
  StatusPageInput input;
  input.enclosure_known = !core_.device().registry().current.empty();
  const PolledRecord* shown = ShownRecord();
  // Until a poll has read the shown enclosure, the page keeps what it shows.
  if (input.enclosure_known && shown == nullptr) return -1;
  input.device_checked = {state.monitor_checked[0].load(), state.monitor_checked[1].load()};
  input.status_device = status_device_;
  if (shown != nullptr) {
    input.record = shown->record;
    input.no_response = shown->gave_up;
  }
  input.firmware_version_text = captions_.firmware_version_text;
  input.scan_capable_firmware = captions_.scan_capable_firmware;
  input.sensor_panel_allowed = captions_.sensor_panel_allowed;
  return status_page_->RefreshStatusPage(input, force);
}

std::array<std::string, 2> TForm1::Hints() const {
  std::array<std::string, 2> hints;
  for (std::size_t position = 0; position < hints.size() && position < captions_.hints.size();
       ++position) {
    hints[position] = captions_.hints[position];
  }
  return hints;
}

// A list shorter than the shown position: the pages show its last enclosure, as the schedule's
// selection does.
void TForm1::FollowListSize(std::size_t count) {
  if (count == 0) return;
  const auto last = static_cast<std::uint8_t>(count - 1);
  if (status_device_ > last) {
    status_device_ = last;
    status_page_->SetShownDevice(last);
    status_page_->ForgetShown();
  }
  if (upgrade_device_ > last) {
    upgrade_device_ = last;
    upgrade_page_->SetShownDevice(last);
  }
}

void TForm1::RefreshDeviceCaptions() {
  SharedState& state = core_.state();
  const EnclosureRegistry& registry = core_.device().registry();
  FollowListSize(registry.current.size());
  // Without an enclosure the title loses its model and the Status page its values.
  const bool none = registry.current.empty();
  if (!none && !ui_->CheckBox1->isChecked() && !ui_->CheckBox3->isChecked()) return;
  const std::uint8_t selected =
      state.current_page.load() == kUpgradePage ? upgrade_device_ : status_device_;
  state.selected_device_index.store(selected);
  captions_ = ComputeDeviceCaptions(registry, selected);
  state.scan_capable_firmware.store(captions_.scan_capable_firmware);
  const std::array<std::string, 2> hints = Hints();
  ui_->CheckBox1->setToolTip(QString::fromStdString(hints[0]));
  ui_->CheckBox3->setToolTip(QString::fromStdString(hints[1]));
  status_page_->SetDeviceHints(hints);
  upgrade_page_->SetDeviceHints(hints);
  setWindowTitle(QString::fromStdString(captions_.window_caption));
  if (none) RefreshStatusPage(true);
}

void TForm1::Image0_LogClick() {
  if (viewer_open_) return;  // one viewer at a time
  viewer_open_ = true;
  TForm5 viewer(shared_log_, core_.state(), Scaled(1000, options_.speed), this);
  viewer.exec();
  viewer_open_ = false;
}

// --- the E-mail page ---

// Saving is a quick write of the key and the template files; the reload it requests runs on the
// e-mail worker.
void TForm1::Image3_OKClick() {
  const MailSettingsEdits edits = email_page_->PrepareOk();
  if (const std::optional<std::string> problem =
          mail_settings_->Save(edits, email_page_->SettingsChangedMask())) {
    // The edits stay marked as unsaved: OK tries again, Ignore drops them, Test waits.
    ui::ShowMessageBox(this, {kMailMessageCaption, *problem, MessageIcon::kWarning});
    return;
  }
  email_page_->ClearSettingsChangedMask();
}

void TForm1::Image3_IgnoreClick() {
  email_page_->Ignore(mail_settings_->Snapshot());
  email_page_->ShowSubPage(email_sub_page_);
}

// The mailer refuses with its own message, or asks the e-mail worker to send.
void TForm1::Image3_TestClick() {
  mailer_->RequestTestMail(email_page_->SettingsChangedMask());
}

void TForm1::StatusBar1DblClick() {
  ui::ShowMessageBox(this, {kSystemInformationCaption, JoinSystemInfo(mailer_->SystemInfoLines()),
                            MessageIcon::kNone});
}

// --- the schedule's view ---

void TForm1::ShowDetectionText(const std::string& text, bool visible) {
  ui_->DetectText->setText(QString::fromStdString(text));
  ui_->DetectText->setVisible(visible);
}

void TForm1::ShowDevice(unsigned position, bool shown) {
  QCheckBox* box = position == 0 ? ui_->CheckBox1 : ui_->CheckBox3;
  box->setVisible(shown);
  box->setChecked(shown);
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

// --- the daily log's saving ---

// Said where it stays in view, and once per episode in a box: lines that wait in memory are lost
// if the window closes before a save takes them.
void TForm1::LogSaveFailed(const std::string& why) {
  const std::string text = LogSaveFailedText(why);
  QMetaObject::invokeMethod(
      this,
      [this, text] {
        window_ui_.SetPanelText(kLogSavingPanel, text);
        ui::ShowMessageBox(this, {kWarningCaption, text, MessageIcon::kWarning});
      },
      Qt::QueuedConnection);
}

void TForm1::LogSaveRecovered() {
  QMetaObject::invokeMethod(
      this, [this] { window_ui_.SetPanelText(kLogSavingPanel, kLogSavedAgainText); },
      Qt::QueuedConnection);
}

// Only once the RAID worker has ended may its detector be read here.
void TForm1::ReportUnsavedLinesAtClose() {
  const EventDetector& detector = core_.detector();
  if (!workers_stopped_ || !detector.Unsaved()) return;
  lines_left_unsaved_ = true;
  ui::ShowMessageBox(this,
                     {kWarningCaption,
                      UnsavedLinesText(detector.UnsavedLineCount(), detector.UnsavedFiles(),
                                       core_.log_store().folder(), core_.log_store().last_error()),
                      MessageIcon::kWarning});
}

// --- devices, session, closing ---

void TForm1::DeviceChanged() {
  core_.schedule().DeviceChanged();
}

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
  if (state.upgrade_in_progress.load()) {
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
  state.work_requests.store(0);
  timer1_.stop();
  timer2_.stop();
  timer3_.stop();
  timer4_.stop();
  worker_ui_.Close();
  if (workers_) {
    // A worker inside a slow exchange may take seconds to stop: the window goes at once, and
    // this thread goes on serving its events while it waits.
    hide();
    QGuiApplication::sync();  // the window system learns it now, not after the wait
  }
  StopWorkers([] { QCoreApplication::processEvents(); });
  ReportUnsavedLinesAtClose();
  firmware_image_.Release();
  event->accept();
}

void TForm1::Guard(const std::function<void()>& work) {
  if (const std::optional<MessageBoxRequest> box = RunCatching(work))
    ui::ShowMessageBox(this, *box);
}

// A mail server that does not answer must not hold the window: what is due may go out within
// the grace, then the mail under way is cancelled (it would otherwise wait out its time-out).
// `meanwhile` runs between short waits.
void TForm1::StopWorkers(const std::function<void()>& meanwhile) {
  if (!workers_ || workers_stopped_) return;
  workers_->RequestStop();
  const auto stopped_within = [&](std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      if (workers_->WaitStopped(std::min(left, kWorkerStopStep))) return true;
      if (meanwhile) meanwhile();
    }
  };
  workers_stopped_ = stopped_within(kMailStopGrace);
  if (workers_stopped_) return;
  if (mailer_) mailer_->Cancel();
  workers_stopped_ = stopped_within(kWorkerStopLimit - kMailStopGrace);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_->StatusBar1 && event->type() == QEvent::MouseButtonDblClick) {
    StatusBar1DblClick();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace raid
