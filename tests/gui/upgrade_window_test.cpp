// The Upgrade page in the real window: loading a firmware file, and an upgrade that runs while
// the window stays responsive.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <fstream>

#include "firmware/upgrade_page.h"
#include "gui/window_test.h"
#include "spi_flash.h"

namespace raid {
namespace {

using ::testing::ElementsAre;
using UpgradeWindowTest = testing::WindowTest;
namespace fs = std::filesystem;

std::vector<std::uint8_t> ImageFor(std::array<std::uint8_t, 6> revision, std::uint32_t size) {
  return sim::BuildFirmwareImage({0x03, revision, size});
}

std::string WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

TEST_F(UpgradeWindowTest, TheLoadButtonChecksTheFileAgainstTheChosenEnclosure) {
  std::string chosen;
  adjust_options_ = [&](WindowOptions& options) {
    options.choose_firmware_file = [&] { return chosen; };
  };
  Open(OneEnclosure());
  ASSERT_TRUE(WaitFor([&] { return FirstStatusShown(); }));
  form_->Image_FWUpgClick();

  // The enclosure is a 0x27 0x70 product: it takes 0x27 0x60 firmware.
  chosen = WriteFile(folder_ / "good.bin", ImageFor({0x16, 0x06, 0x01, 0x10, 0x27, 0x60}, 4096));
  form_->Image2_LoadClick();
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(form_->firmware_image().Loaded());
  EXPECT_EQ(form_->firmware_image().size, 4096u);
  EXPECT_EQ(Find<QLabel>("Panel4")->text().toStdString(), "File:" + chosen);
  EXPECT_EQ(Find<QLineEdit>("UpgradePathEdit")->text().toStdString(), chosen);
  EXPECT_TRUE(Find<QLabel>("Panel0")->text().startsWith("Chksum:"));
  EXPECT_EQ(Find<QLabel>("Panel2")->text(), "F:16052013");
  EXPECT_EQ(Find<QLabel>("Panel3")->text(), "C:16060110");

  // Another product's firmware: refused, and the image held before is gone too.
  chosen = WriteFile(folder_ / "other.bin", ImageFor({0x16, 0x06, 0x01, 0x10, 0x27, 0x80}, 4096));
  form_->Image2_LoadClick();
  EXPECT_THAT(messages_, ElementsAre(MessageBoxRequest{
                             "Error", "The firmware is not for this product.\nPlease check it.",
                             MessageIcon::kError}));
  EXPECT_FALSE(form_->firmware_image().Loaded());

  // Cancelling the dialog changes nothing; so does a click while an upgrade runs.
  chosen.clear();
  form_->Image2_LoadClick();
  EXPECT_EQ(messages_.size(), 1u);
  chosen = WriteFile(folder_ / "good.bin", ImageFor({0x16, 0x06, 0x01, 0x10, 0x27, 0x60}, 4096));
  form_->core().state().upgrade_in_progress.store(true);
  form_->Image2_LoadClick();
  EXPECT_FALSE(form_->firmware_image().Loaded());
  form_->core().state().upgrade_in_progress.store(false);
}

}  // namespace
}  // namespace raid
