// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui/upgrade/window_firmware.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QStatusBar>

#include "gui/upgrade/upgrade_page.h"
#include "gui/widgets/guarded_slot.h"
#include "power/system_keep_awake.h"

namespace raid {
namespace {

constexpr const char* kFirmwareFileFilter = "Binary code (*.bin);;All files (*.*)";
constexpr int kFilePanel = 4;

}  // namespace

WindowFirmware::WindowFirmware(MonitorCore& core, const PageSelection& selection, Parts parts,
                               std::function<std::string()> choose_file,
                               const std::function<std::unique_ptr<KeepAwake>()>& keep_awake)
    : core_(core),
      selection_(selection),
      parts_(parts),
      page_(parts.page),
      choose_file_(std::move(choose_file)),
      views_(parts.window, page_, parts.boxes, parts.progress_timer),
      keep_awake_(keep_awake ? keep_awake() : std::make_unique<SystemKeepAwake>()),
      upgrader_(std::make_unique<UpgradeFirmware>(core.device(), core.state(), *keep_awake_)) {
  QObject::connect(page_, &UpgradePage::LoadClicked, parts_.window,
                   Guarded(parts_.window, this, &WindowFirmware::LoadClick));
  QObject::connect(page_, &UpgradePage::UpgradeClicked, parts_.window,
                   Guarded(parts_.window, this, &WindowFirmware::Upgrade));
  // Timer1: the bar follows ProgressCount while the panel shows; it never goes back, so a
  // finished upgrade's full bar stays full.
  QObject::connect(&parts_.progress_timer, &QTimer::timeout, parts_.window, [this] {
    const int count = static_cast<int>(core_.state().upgrade.progress_count.load());
    page_->SetProgress(std::max(page_->Progress(), count));
  });
}

WindowFirmware::~WindowFirmware() {
  Finish();
}

void WindowFirmware::Finish() {
  WaitForUpgradeThread();
  // A load's outcome that has not been applied is dropped with the window.
  if (load_thread_.joinable()) load_thread_.join();
}

void WindowFirmware::Upgrade() {
  if (loading_) return;  // the file chosen is not checked yet
  std::optional<Maintenance> maintenance = Maintenance::BeginMaintenance(core_.state(), views_);
  if (!maintenance) return;  // an upgrade runs
  WaitForUpgradeThread();    // the last one has ended: only its join is left
  upgrade_done_.store(false);
  // The image stays loaded for the next enclosure; the thread writes from its own copy.
  upgrade_thread_ = std::thread([this, held = std::move(*maintenance), image = image_,
                                 device = selection_.upgrade_device()]() mutable {
    UpgradeResult result =
        upgrader_->Run(std::move(held), image, device, {parts_.worker_ui, views_, views_});
    {
      std::lock_guard lock(result_mutex_);
      result_ = std::move(result);
    }
    upgrade_done_.store(true);
  });
}

std::optional<UpgradeResult> WindowFirmware::LastResult() {
  if (!upgrade_done_.load()) return std::nullopt;
  std::lock_guard lock(result_mutex_);
  return result_;
}

// The upgrade thread waits for its message boxes on the window thread, which keeps serving them
// while it waits here.
void WindowFirmware::WaitForUpgradeThread() {
  while (!upgrade_done_.load()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  if (upgrade_thread_.joinable()) upgrade_thread_.join();
}

void WindowFirmware::LoadClick() {
  if (core_.state().upgrade.in_progress.load() || loading_) return;
  const std::string path =
      choose_file_ ? choose_file_()
                   : QFileDialog::getOpenFileName(parts_.window, QString(), QString(),
                                                  QString::fromUtf8(kFirmwareFileFilter))
                         .toStdString();
  if (!path.empty()) LoadFileAt(path);
}

void WindowFirmware::LoadFileAt(const std::string& path) {
  if (loading_) return;
  // The file panel takes what the other four leave of the bar.
  int others = 0;
  for (int panel = 0; panel < kFilePanel; ++panel)
    others += parts_.panels[panel]->width();
  parts_.panels[kFilePanel]->setFixedWidth(std::max(0, parts_.status_bar->width() - others));
  page_->SetPathText(path);

  image_.Release();
  const FirmwareCheckTarget target = selection_.FirmwareTarget();
  loading_ = true;
  page_->ShowLoading(true);
  if (load_thread_.joinable()) load_thread_.join();  // ended: it posted
  load_thread_ = std::thread([this, path, target] {
    auto result = std::make_shared<FirmwareLoadResult>();
    // Whatever the load throws ends it as a failure that says so; the window goes on.
    if (const std::optional<MessageBoxRequest> thrown = RunCatching([&] {
          FileByteSource source(path);
          *result = LoadFirmwareFile(path, source, target.kind, target.id);
        })) {
      *result = FirmwareLoadResult{};
      result->messages.push_back(*thrown);
    }
    QMetaObject::invokeMethod(
        parts_.window, [this, result] { ApplyLoad(std::move(*result)); }, Qt::QueuedConnection);
  });
}

void WindowFirmware::ApplyLoad(FirmwareLoadResult result) {
  if (load_thread_.joinable()) load_thread_.join();  // posting was its last act
  loading_ = false;
  page_->ShowLoading(false);
  if (core_.state().shutting_down.load()) return;  // closed meanwhile: the image stays released

  WindowUiSink& ui = parts_.window_ui;
  if (!result.file_text.empty()) ui.SetPanelText(kFilePanel, result.file_text);
  if (result.checksum_text) ui.SetPanelText(0, *result.checksum_text);
  if (result.enclosure_date_text) ui.SetPanelText(2, *result.enclosure_date_text);
  if (result.image_date_text) ui.SetPanelText(3, *result.image_date_text);
  image_ = std::move(result.image);
  for (const MessageBoxRequest& message : result.messages)
    ui.ShowMessage(message);
}

}  // namespace raid
