// SPDX-License-Identifier: GPL-2.0-or-later
// The Upgrade page in the real window: loading a firmware file, and an upgrade that runs while
// the window stays responsive.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "gui/upgrade/upgrade_page.h"
#include "gui/window_test.h"
#include "spi_flash.h"
#include "support/upgrade_test_doubles.h"

namespace raid {
namespace {

using ::testing::ElementsAre;
namespace fs = std::filesystem;

class UpgradeWindowTest : public testing::WindowTest {
 protected:
  // The file is read on a thread of its own: what it shows is there once the window applied it.
  void ClickLoad() {
    form_->firmware().LoadClick();
    ASSERT_TRUE(WaitFor([&] { return !form_->firmware().Loading(); }));
  }
};

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
  ClickLoad();
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(form_->firmware().image().Loaded());
  EXPECT_EQ(form_->firmware().image().size, 4096u);
  EXPECT_EQ(Find<QLabel>("Panel4")->text().toStdString(), "File:" + chosen);
  EXPECT_EQ(Find<QLineEdit>("UpgradePathEdit")->text().toStdString(), chosen);
  EXPECT_TRUE(Find<QLabel>("Panel0")->text().startsWith("Chksum:"));
  EXPECT_EQ(Find<QLabel>("Panel2")->text(), "F:16052013");
  EXPECT_EQ(Find<QLabel>("Panel3")->text(), "C:16060110");

  // Another product's firmware: refused, and the image held before is gone too.
  chosen = WriteFile(folder_ / "other.bin", ImageFor({0x16, 0x06, 0x01, 0x10, 0x27, 0x80}, 4096));
  ClickLoad();
  EXPECT_THAT(messages_, ElementsAre(MessageBoxRequest{
                             "Error", "The firmware is not for this product.\nPlease check it.",
                             MessageIcon::kError}));
  EXPECT_FALSE(form_->firmware().image().Loaded());

  // Cancelling the dialog changes nothing; so does a click while an upgrade runs.
  chosen.clear();
  ClickLoad();
  EXPECT_EQ(messages_.size(), 1u);
  chosen = WriteFile(folder_ / "good.bin", ImageFor({0x16, 0x06, 0x01, 0x10, 0x27, 0x60}, 4096));
  form_->core().state().upgrade.in_progress.store(true);
  ClickLoad();
  EXPECT_FALSE(form_->firmware().image().Loaded());
  form_->core().state().upgrade.in_progress.store(false);
}

// The window stays alive while the flash is rewritten on the upgrade thread: it repaints, the
// bar moves up to its maximum, closing and a second click are refused, and at the end the flash
// holds the image, the boxes are back and the hold on the machine is let go.
TEST_F(UpgradeWindowTest, AnUpgradeRunsOffTheWindowThreadToAFullBar) {
  std::string chosen;
  testing::FakeKeepAwake* keep_awake = nullptr;
  adjust_options_ = [&](WindowOptions& options) {
    options.choose_firmware_file = [&] { return chosen; };
    options.keep_awake = [&] {
      auto fake = std::make_unique<testing::FakeKeepAwake>();
      keep_awake = fake.get();
      return fake;
    };
  };
  sim::Scenario scenario = OneEnclosure();
  // Each READ(10) takes half a millisecond, as over USB 2.0: the upgrade lasts long enough to
  // be watched.
  std::get<sim::EnclosureSpec>(scenario.drives[1].device).faults.read_latency_us = 500;
  Open(std::move(scenario));
  ASSERT_TRUE(WaitFor([&] { return FirstStatusShown(); }));
  form_->Image_FWUpgClick();
  const std::vector<std::uint8_t> image = ImageFor({0x16, 0x06, 0x01, 0x10, 0x27, 0x70}, 40960);
  chosen = WriteFile(folder_ / "new.bin", image);
  ClickLoad();
  ASSERT_TRUE(form_->firmware().image().Loaded());
  messages_.clear();

  auto* bar = Find<QProgressBar>("UpgradeProgressBar");
  auto* box = Find<QCheckBox>("CheckBox1");
  form_->firmware().Upgrade();
  EXPECT_TRUE(form_->core().state().upgrade.in_progress.load());
  EXPECT_FALSE(box->isEnabled());  // disabled with the click, before the thread got going

  // While it runs: the window serves its events at once and repaints; the bar moves.
  std::vector<int> positions;
  int longest_wait_ms = 0;
  bool close_tried = false;
  while (!form_->firmware().LastResult()) {
    QElapsedTimer waited;
    waited.start();
    QTest::qWait(20);
    longest_wait_ms = std::max(longest_wait_ms, static_cast<int>(waited.elapsed()));
    if (!form_->upgrade_page()->ProgressPanelShown()) continue;
    positions.push_back(bar->value());
    if (!close_tried && bar->value() > 0) {
      close_tried = true;
      form_->close();
      EXPECT_TRUE(form_->isVisible());
      form_->firmware().Upgrade();    // ignored: one upgrade at a time
      form_->firmware().LoadClick();  // ignored too
      EXPECT_EQ(form_->grab().size(), QSize(620, 440));
    }
  }
  EXPECT_TRUE(close_tried);
  EXPECT_LT(longest_wait_ms, 500);
  ASSERT_GE(positions.size(), 3u);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_LT(positions.front(), positions.back()) << ::testing::PrintToString(positions);

  const std::optional<UpgradeResult> result = form_->firmware().LastResult();
  EXPECT_TRUE(result->Succeeded());
  EXPECT_EQ(bar->maximum(), 810);
  EXPECT_EQ(bar->value(), 810);
  EXPECT_FALSE(form_->upgrade_page()->ProgressPanelShown());
  EXPECT_EQ(host_->enclosure(1)->FlashBytes(0, 40960), image);
  ASSERT_TRUE(WaitFor([&] { return box->isEnabled(); }, 5));
  EXPECT_FALSE(form_->core().state().upgrade.in_progress.load());
  EXPECT_EQ(form_->core().state().upgrade.target_index.load(), kNoUpgradeTarget);
  ASSERT_NE(keep_awake, nullptr);
  EXPECT_EQ(keep_awake->taken, 1);
  EXPECT_EQ(keep_awake->held, 0);
  EXPECT_EQ(Find<QLabel>("Panel4")->text(), "SPI Verify OK");
  EXPECT_THAT(
      messages_,
      ElementsAre(MessageBoxRequest{"Message", "Firmware is upgrading, please wait a moment.",
                                    MessageIcon::kNone},
                  MessageBoxRequest{"Firmware Upgrade Message",
                                    "Firmware Upgrade 3/3 completed!\n"
                                    "\nPlease power off this device or the system,"
                                    "\nand power on it to enable the new firmware!",
                                    MessageIcon::kExclamation}));
  // The image stays loaded for another enclosure.
  EXPECT_TRUE(form_->firmware().image().Loaded());
}

// While the file is read the page says so, and neither a second load nor the upgrade starts.
TEST_F(UpgradeWindowTest, WhileAFileLoadsThePageSaysSoAndRefusesASecondLoadAndTheUpgrade) {
  Open(OneEnclosure());
  ASSERT_TRUE(WaitFor([&] { return FirstStatusShown(); }));
  form_->Image_FWUpgClick();
  const std::array<std::uint8_t, 6> revision = {0x16, 0x06, 0x01, 0x10, 0x27, 0x70};
  const std::string first = WriteFile(folder_ / "first.bin", ImageFor(revision, 8192));
  const std::string second = WriteFile(folder_ / "second.bin", ImageFor(revision, 4096));
  auto* status = Find<QLabel>("UpgradeLoadingLabel");
  auto* load = Find("Image2_Load");
  auto* upgrade = Find("Image2_Upgrade");
  ASSERT_TRUE(load->isEnabled() && upgrade->isEnabled());

  form_->firmware().LoadFileAt(first);
  EXPECT_TRUE(form_->firmware().Loading());
  EXPECT_EQ(status->text(), "Loading the firmware file...");
  EXPECT_FALSE(load->isEnabled());
  EXPECT_FALSE(upgrade->isEnabled());
  form_->firmware().LoadFileAt(second);
  form_->firmware().Upgrade();
  EXPECT_FALSE(form_->core().state().upgrade.in_progress.load());

  ASSERT_TRUE(WaitFor([&] { return !form_->firmware().Loading(); }));
  EXPECT_EQ(form_->firmware().image().size, 8192u);
  EXPECT_EQ(Find<QLineEdit>("UpgradePathEdit")->text().toStdString(), first);
  EXPECT_TRUE(status->text().isEmpty());
  EXPECT_TRUE(load->isEnabled() && upgrade->isEnabled());
  EXPECT_TRUE(messages_.empty());
}

// A handler that throws (here the open dialog's) shows the exception's text, or none when it
// carries none, and the window goes on taking clicks.
TEST_F(UpgradeWindowTest, AHandlerThatThrowsIsShownAndTheWindowGoesOn) {
  std::function<std::string()> choose;
  adjust_options_ = [&](WindowOptions& options) {
    options.choose_firmware_file = [&] { return choose(); };
  };
  Open(OneEnclosure());
  ASSERT_TRUE(WaitFor([&] { return FirstStatusShown(); }));
  form_->Image_FWUpgClick();
  auto* load = Find<QAbstractButton>("Image2_Load");
  choose = []() -> std::string { throw std::runtime_error("No dialog today."); };
  QTest::mouseClick(load, Qt::LeftButton);
  choose = []() -> std::string { throw 42; };
  QTest::mouseClick(load, Qt::LeftButton);
  EXPECT_THAT(messages_,
              ElementsAre(MessageBoxRequest{"Error", "No dialog today.", MessageIcon::kError},
                          MessageBoxRequest{"Error", "", MessageIcon::kError}));

  const std::string good =
      WriteFile(folder_ / "good.bin", ImageFor({0x16, 0x06, 0x01, 0x10, 0x27, 0x60}, 4096));
  choose = [&] { return good; };
  QTest::mouseClick(load, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return !form_->firmware().Loading(); }));
  EXPECT_TRUE(form_->firmware().image().Loaded());
  EXPECT_EQ(messages_.size(), 2u);
}

}  // namespace
}  // namespace raid
