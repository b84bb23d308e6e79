// The window's Upgrade page handlers: loading the firmware file and the upgrade itself.
#include <QFileDialog>
#include <QLabel>

#include "app/tform1.h"
#include "firmware/upgrade_page.h"
#include "ui/message_boxes.h"
#include "ui_tform1.h"

namespace raid {
namespace {

constexpr const char* kFirmwareFileFilter = "Binary code (*.bin);;All files (*.*)";
constexpr int kFilePanel = 4;

}  // namespace

void TForm1::Image2_LoadClick() {
  if (core_.state().upgrade_in_progress.load()) return;
  const std::string path =
      options_.choose_firmware_file
          ? options_.choose_firmware_file()
          : QFileDialog::getOpenFileName(this, QString(), QString(),
                                         QString::fromUtf8(kFirmwareFileFilter))
                .toStdString();
  if (!path.empty()) LoadFirmwareFileAt(path);
}

void TForm1::LoadFirmwareFileAt(const std::string& path) {
  // The file panel takes what the other four leave of the bar.
  int others = 0;
  for (int panel = 0; panel < kFilePanel; ++panel)
    others += panels_[panel]->width();
  panels_[kFilePanel]->setFixedWidth(std::max(0, ui_->StatusBar1->width() - others));

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
  FileByteSource source(path);
  FirmwareLoadResult result = LoadFirmwareFile(path, source, kind, id);

  window_ui_.SetPanelText(kFilePanel, result.file_text);
  upgrade_page_->SetPathText(path);
  if (result.checksum_text) window_ui_.SetPanelText(0, *result.checksum_text);
  if (result.enclosure_date_text) window_ui_.SetPanelText(2, *result.enclosure_date_text);
  if (result.image_date_text) window_ui_.SetPanelText(3, *result.image_date_text);
  for (const MessageBoxRequest& message : result.messages)
    window_ui_.ShowMessage(message);
  firmware_image_ = std::move(result.image);
}

}  // namespace raid
