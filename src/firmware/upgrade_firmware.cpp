// SPDX-License-Identifier: GPL-2.0-or-later
#include "firmware/upgrade_firmware.h"

#include <algorithm>
#include <vector>

#include "common/bytes.h"
#include "common/exception_box.h"
#include "firmware/upgrade_extent.h"

namespace raid {
namespace {

constexpr int kUpgradePanel = kFlashStatusPanel;
constexpr const char* kNoImageText = "Please Load Firmware File First ";
constexpr const char* kWrongTypeText = "Incorrect Firmware Type! SPI = ";
constexpr const char* kNotKeptAwakeText = "The machine could not be kept awake: ";
constexpr const char* kUpdatingLabel = "Firmware Update...";
constexpr const char* kStepCaptions[] = {"Process 1 / 3", "Process 2 / 3", "Process 3 / 3"};
constexpr const char* kEraseOk = "SPI Erase OK";
constexpr const char* kEraseFail = "SPI Erase Fail.";
constexpr const char* kProgramOk = "SPI Program OK";
constexpr const char* kProgramFail = "SPI Program Fail.";
constexpr const char* kVerifyOk = "SPI Verify OK";
constexpr const char* kVerifyFail = "SPI Verify fail !!!";
constexpr const char* kCompletedCaption = "Firmware Upgrade Message";
constexpr const char* kCompletedText =
    "Firmware Upgrade 3/3 completed!\n"
    "\nPlease power off this device or the system,"
    "\nand power on it to enable the new firmware!";

// Only the loader makes images, and only of files long enough for their checked fields.
bool HoldsImage(const FirmwareImage& image) {
  return image.Loaded() && image.bytes.size() == image.size && image.size >= kMinimumImageSize;
}

std::string TypeBytesText(std::uint8_t enclosure, std::uint8_t image) {
  return HexUpper(enclosure, 2) + ", BIN = " + HexUpper(image, 2);
}

// The progress panel is hidden on every path once it has been shown.
class ShownProgress {
 public:
  ShownProgress(UpgradeProgressView& view, std::uint32_t maximum) : view_(view) {
    view_.ShowProgress(maximum);
  }
  ~ShownProgress() { Hide(); }
  ShownProgress(const ShownProgress&) = delete;
  ShownProgress& operator=(const ShownProgress&) = delete;
  void Hide() {
    if (shown_) view_.HideProgress();
    shown_ = false;
  }

 private:
  UpgradeProgressView& view_;
  bool shown_ = true;
};

}  // namespace

// Passes everything on, remembering the upgrade panel's text (a failure box repeats it) and the
// last message box.
class UpgradeFirmware::PanelWatch : public UiSink {
 public:
  explicit PanelWatch(UiSink& ui) : ui_(ui) {}

  void SetPanelText(int panel, const std::string& text) override {
    if (panel == kUpgradePanel) text_ = text;
    ui_.SetPanelText(panel, text);
  }
  void ShowMessage(const MessageBoxRequest& request) override {
    last_message_ = request;
    ui_.ShowMessage(request);
  }
  void SetMonitorChecked(int position, bool checked) override {
    ui_.SetMonitorChecked(position, checked);
  }

  const std::string& text() const { return text_; }
  const std::optional<MessageBoxRequest>& last_message() const { return last_message_; }

 private:
  UiSink& ui_;
  std::string text_;
  std::optional<MessageBoxRequest> last_message_;
};

UpgradeFirmware::UpgradeFirmware(DeviceAccess& device, SharedState& state, KeepAwake& keep_awake)
    : device_(device), state_(state), keep_awake_(keep_awake) {}

UpgradeResult UpgradeFirmware::Run(const FirmwareImage& image, unsigned upgrade_device,
                                   const UpgradeViews& views) {
  std::optional<Maintenance> maintenance = Maintenance::BeginMaintenance(state_, views.maintenance);
  if (!maintenance) return {};
  return Run(std::move(*maintenance), image, upgrade_device, views);
}

UpgradeResult UpgradeFirmware::Run(Maintenance maintenance, const FirmwareImage& image,
                                   unsigned upgrade_device, const UpgradeViews& views) {
  const Maintenance held = std::move(maintenance);  // ends when this returns
  PanelWatch ui(views.ui);
  UpgradeResult result;
  if (const std::optional<MessageBoxRequest> thrown =
          RunCatching([&] { CheckAndFlash(image, upgrade_device, ui, views.progress, result); })) {
    // Broken off wherever it was: the flash may be partly rewritten, so never a success. The
    // hold on the machine and the progress panel have gone with the unwinding; maintenance
    // ends as on every other path.
    result.outcome = UpgradeOutcome::kFailed;
    ui.ShowMessage(*thrown);
  }
  result.panel_text = ui.text();
  result.last_message = ui.last_message();
  return result;
}

void UpgradeFirmware::CheckAndFlash(const FirmwareImage& image, unsigned upgrade_device,
                                    PanelWatch& ui, UpgradeProgressView& progress,
                                    UpgradeResult& result) {
  result.outcome = UpgradeOutcome::kRefused;
  if (!HoldsImage(image)) {
    ui.ShowMessage({kMessageCaption, kNoImageText, MessageIcon::kNone});
    return;
  }
  // The loader refuses such a file already; an image that got here otherwise is not written.
  if (!FitsFlash(image.size)) {
    ui.ShowMessage(ImageTooLargeBox());
    return;
  }
  // A position past any list names no enclosure, whatever the caller passed.
  const unsigned position = std::min(upgrade_device, unsigned{kUpgradeTargetGone});
  state_.upgrade.target_index.store(static_cast<std::uint16_t>(position));
  if (!device_.flash().UpgradeDrive(ui)) return;

  const EnclosureRegistry& registry = device_.registry();
  const EnclosureInfo target = registry.current[position];
  const std::uint8_t image_type = image.bytes[kFirmwareTypeByte];
  ui.SetPanelText(kUpgradePanel, "SPI = " + TypeBytesText(target.firmware_type_byte, image_type));
  // A port-multiplier bridge keeps other type bytes in its flash; only the RAID bridge's count.
  if (target.firmware_type_byte != image_type &&
      target.controller_kind == ControllerKind::kRaidBridge) {
    ui.ShowMessage({kMessageCaption,
                    kWrongTypeText + TypeBytesText(target.firmware_type_byte, image_type),
                    MessageIcon::kNone});
    return;
  }
  // The image was checked against the enclosure chosen when it was loaded; the one about to be
  // rewritten may be another.
  if (!ImageSuitsProduct(image.bytes, target.controller_kind, registry.CurrentBlock(position))) {
    ui.ShowMessage(ProductMismatchBox());
    return;
  }

  std::string why_not;
  const std::unique_ptr<KeepAwakeHold> hold = keep_awake_.Hold(why_not);
  result.kept_awake = hold != nullptr;
  if (!hold) ui.SetPanelText(kKeepAwakePanel, kNotKeptAwakeText + why_not);

  progress.SetProgressLabel(kUpdatingLabel);
  state_.upgrade.progress_count.store(0);
  progress.SetProgressCaption(kStepCaptions[0]);
  const auto maximum = static_cast<std::uint32_t>(ProgressMaximum(image.size));
  ShownProgress shown(progress, maximum);
  result.failed_step = EraseProgramVerify(image, ui, progress, result.failed_step);
  // The maximum counts more units than the three steps send: a finished upgrade fills the bar.
  if (result.failed_step == UpgradeStep::kNone) progress.SetProgressPosition(maximum);
  shown.Hide();

  if (result.failed_step == UpgradeStep::kNone) {
    result.outcome = UpgradeOutcome::kSucceeded;
    ui.ShowMessage({kCompletedCaption, kCompletedText, MessageIcon::kExclamation});
  } else {
    result.outcome = UpgradeOutcome::kFailed;
    ui.ShowMessage({kMessageCaption, ui.text(), MessageIcon::kNone});
  }
}

UpgradeStep UpgradeFirmware::EraseProgramVerify(const FirmwareImage& image, PanelWatch& ui,
                                                UpgradeProgressView& progress,
                                                UpgradeStep& under_way) {
  FlashAccess& flash = device_.flash();
  const auto show_progress = [&] {
    progress.SetProgressPosition(state_.upgrade.progress_count.load());
  };

  under_way = UpgradeStep::kErase;
  const bool erased = flash.FlashErase(0, static_cast<std::uint32_t>(EraseLength(image.size)), ui);
  show_progress();
  if (!erased) {
    ui.SetPanelText(kUpgradePanel, kEraseFail);
    return UpgradeStep::kErase;
  }
  ui.SetPanelText(kUpgradePanel, kEraseOk);

  under_way = UpgradeStep::kProgram;
  progress.SetProgressCaption(kStepCaptions[1]);
  const bool programmed = flash.FlashWrite(0, image.size, image.bytes, ui);
  show_progress();
  if (!programmed) {
    ui.SetPanelText(kUpgradePanel, kProgramFail);
    return UpgradeStep::kProgram;
  }
  ui.SetPanelText(kUpgradePanel, kProgramOk);

  // Whole blocks, as they are read; only the image's own bytes are compared.
  const std::size_t blocks = (image.size + kFlashBlockSize - 1) / kFlashBlockSize;
  std::vector<std::uint8_t> verify(blocks * kFlashBlockSize);
  under_way = UpgradeStep::kVerifyRead;
  progress.SetProgressCaption(kStepCaptions[2]);
  const bool read = flash.FlashReadUpgradeTarget(0, image.size, verify, ui);
  show_progress();
  if (!read) {
    // The read's own failure text stands; a read that left none (the disk would not open)
    // must not leave the program step's success as the last word.
    if (ui.text() == kProgramOk) ui.SetPanelText(kUpgradePanel, kVerifyFail);
    return UpgradeStep::kVerifyRead;
  }
  if (!std::equal(image.bytes.begin(), image.bytes.end(), verify.begin())) {
    ui.SetPanelText(kUpgradePanel, kVerifyFail);
    return UpgradeStep::kVerifyCompare;
  }
  ui.SetPanelText(kUpgradePanel, kVerifyOk);
  return UpgradeStep::kNone;
}

}  // namespace raid
