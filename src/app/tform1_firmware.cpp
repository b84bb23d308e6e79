// The window's Upgrade page handlers: loading the firmware file and the upgrade itself.
#include <QFileDialog>
#include <QLabel>

#include <QCoreApplication>
#include <memory>

#include "app/tform1.h"
#include "common/exception_box.h"
#include "firmware/upgrade_page.h"
#include "power/system_keep_awake.h"
#include "ui/message_boxes.h"
#include "ui_tform1.h"

namespace raid {
namespace {

constexpr const char* kFirmwareFileFilter = "Binary code (*.bin);;All files (*.*)";
constexpr int kFilePanel = 4;

}  // namespace

void TForm1::SetUpUpgrade() {
  keep_awake_ = options_.keep_awake ? options_.keep_awake() : std::make_unique<SystemKeepAwake>();
  upgrader_ = std::make_unique<raid::UpgradeFirmware>(core_.device(), core_.state(), *keep_awake_);
  connect(upgrade_page_, &UpgradePage::LoadClicked, this, Guarded(&TForm1::Image2_LoadClick));
  connect(upgrade_page_, &UpgradePage::UpgradeClicked, this, Guarded(&TForm1::UpgradeFirmware));
  // Timer1: the bar follows ProgressCount while the panel shows; it never goes back, so a
  // finished upgrade's full bar stays full.
  connect(&timer1_, &QTimer::timeout, this, [this] {
    const int count = static_cast<int>(core_.state().progress_count.load());
    upgrade_page_->SetProgress(std::max(upgrade_page_->Progress(), count));
  });
}

void TForm1::UpgradeFirmware() {
  if (firmware_loading_) return;  // the file chosen is not checked yet
  std::optional<Maintenance> maintenance =
      Maintenance::BeginMaintenance(core_.state(), upgrade_views_);
  if (!maintenance) return;  // an upgrade runs
  WaitForUpgradeThread();    // the last one has ended: only its join is left
  upgrade_thread_done_.store(false);
  // The image stays loaded for the next enclosure; the thread writes from its own copy.
  upgrade_thread_ = std::thread([this, held = std::move(*maintenance), image = firmware_image_,
                                 device = upgrade_device_]() mutable {
    UpgradeResult result = upgrader_->Run(std::move(held), image, device,
                                          {worker_ui_, upgrade_views_, upgrade_views_});
    {
      std::lock_guard lock(upgrade_result_mutex_);
      upgrade_result_ = std::move(result);
    }
    upgrade_thread_done_.store(true);
  });
}

std::optional<UpgradeResult> TForm1::LastUpgradeResult() {
  if (!upgrade_thread_done_.load()) return std::nullopt;
  std::lock_guard lock(upgrade_result_mutex_);
  return upgrade_result_;
}

void TForm1::WaitForUpgradeThread() {
  // The upgrade thread waits for its message boxes on this thread, so this one keeps serving
  // them while it waits. It is never left running: it writes the flash through this window's
  // core.
  while (!upgrade_thread_done_.load()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  if (upgrade_thread_.joinable()) upgrade_thread_.join();
}

void TForm1::Image2_LoadClick() {
  if (core_.state().upgrade_in_progress.load() || firmware_loading_) return;
  const std::string path =
      options_.choose_firmware_file
          ? options_.choose_firmware_file()
          : QFileDialog::getOpenFileName(this, QString(), QString(),
                                         QString::fromUtf8(kFirmwareFileFilter))
                .toStdString();
  if (!path.empty()) LoadFirmwareFileAt(path);
}

void TForm1::LoadFirmwareFileAt(const std::string& path) {
  if (firmware_loading_) return;
  // The file panel takes what the other four leave of the bar.
  int others = 0;
  for (int panel = 0; panel < kFilePanel; ++panel)
    others += panels_[panel]->width();
  panels_[kFilePanel]->setFixedWidth(std::max(0, ui_->StatusBar1->width() - others));
  upgrade_page_->SetPathText(path);

  firmware_image_.Release();
  const EnclosureRegistry& registry = core_.device().registry();
  // Without an enclosure to compare with, only the file's own checks apply; the upgrade checks
  // the product again against the enclosure it writes to.
  ControllerKind kind = ControllerKind::kPortMultiplier;
  IdentificationBlock id{};
  if (upgrade_device_ < registry.current.size()) {
    kind = registry.current[upgrade_device_].controller_kind;
    id = registry.CurrentBlock(upgrade_device_);
  }
  firmware_loading_ = true;
  upgrade_page_->ShowLoading(true);
  if (firmware_load_thread_.joinable()) firmware_load_thread_.join();  // ended: it posted
  firmware_load_thread_ = std::thread([this, path, kind, id] {
    auto result = std::make_shared<FirmwareLoadResult>();
    // Whatever the load throws ends it as a failure that says so; the window goes on.
    if (const std::optional<MessageBoxRequest> thrown = RunCatching([&] {
          FileByteSource source(path);
          *result = LoadFirmwareFile(path, source, kind, id);
        })) {
      *result = FirmwareLoadResult{};
      result->messages.push_back(*thrown);
    }
    QMetaObject::invokeMethod(
        this, [this, result] { ApplyFirmwareLoad(std::move(*result)); }, Qt::QueuedConnection);
  });
}

void TForm1::ApplyFirmwareLoad(FirmwareLoadResult result) {
  if (firmware_load_thread_.joinable()) firmware_load_thread_.join();  // posting was its last act
  firmware_loading_ = false;
  upgrade_page_->ShowLoading(false);
  if (core_.state().shutting_down.load()) return;  // closed meanwhile: the image stays released

  if (!result.file_text.empty()) window_ui_.SetPanelText(kFilePanel, result.file_text);
  if (result.checksum_text) window_ui_.SetPanelText(0, *result.checksum_text);
  if (result.enclosure_date_text) window_ui_.SetPanelText(2, *result.enclosure_date_text);
  if (result.image_date_text) window_ui_.SetPanelText(3, *result.image_date_text);
  firmware_image_ = std::move(result.image);
  for (const MessageBoxRequest& message : result.messages)
    window_ui_.ShowMessage(message);
}

}  // namespace raid
