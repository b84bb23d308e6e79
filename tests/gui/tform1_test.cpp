// The real main window on the offscreen platform, with a simulated host behind it whose clock
// (and the window's timers with it) runs fast.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <memory>
#include <random>

#include "app/tform1.h"
#include "health/smart_page.h"
#include "notify/linux/toml_settings_backend.h"
#include "sim_host.h"
#include "status/status_page.h"
#include "ui/message_boxes.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr double kSpeed = 20.0;  // a 5-second poll every 250 ms

class TForm1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() / ("raidgui-window-" + std::to_string(std::random_device{}()));
    fs::create_directories(folder_);
    ui::AnswerMessageBoxesWith([this](const MessageBoxRequest& request) {
      messages_.push_back(request);
      return QMessageBox::Ok;
    });
  }
  void TearDown() override {
    form_.reset();
    ui::AnswerMessageBoxesWith(nullptr);
    if (host_) {
      EXPECT_THAT(host_->recorder().ViolationTexts(), IsEmpty());
    }
    fs::remove_all(folder_);
  }

  void Open(sim::Scenario scenario) {
    host_ = std::make_unique<sim::SimHost>(std::move(scenario), clock_);
    WindowOptions options;
    options.log_folder = folder_;
    options.speed = kSpeed;
    options.kernel_device_events = false;
    // Never the user's mail settings or this host's description.
    options.settings_backend = [folder = folder_ / "settings"] {
      return MakeTomlSettingsBackend(folder);
    };
    options.system_info = [] { return std::vector<std::string>(5); };
    form_ = std::make_unique<TForm1>(*host_, clock_, options);
    form_->show();
  }
  // Waits (processing events) until `done` holds, for at most `story_seconds` of clock time.
  bool WaitFor(const std::function<bool()>& done, double story_seconds = 60) {
    return QTest::qWaitFor(done, static_cast<int>(story_seconds * 1000 / kSpeed) + 200);
  }
  QString StateText() {
    return form_->status_page()->findChild<QLabel*>(QStringLiteral("Label18"))->text();
  }
  template <typename T = QWidget>
  T* Find(const char* name) {
    return form_->findChild<T*>(QString::fromLatin1(name));
  }
  bool FirstStatusShown() { return !form_->core().state().initial_detection.load(); }

  static sim::Scenario OneEnclosure() {
    sim::Scenario scenario;
    scenario.drives[0] = sim::DriveSpec(sim::PlainDiskSpec{});
    scenario.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
    scenario.volumes.push_back({"E", DriveType::kFixed, DiskExtent{1, 1048576, 1000000}, true});
    return scenario;
  }

  fs::path folder_;
  ScaledClock clock_{kSpeed};
  std::unique_ptr<sim::SimHost> host_;
  std::unique_ptr<TForm1> form_;
  std::vector<MessageBoxRequest> messages_;
};

TEST_F(TForm1Test, PageButtonsWaitForTheFirstStatusAndTheCaptionGainsTheHint) {
  sim::Scenario scenario = OneEnclosure();
  // The first answers come slowly: the window is up long before the first status.
  std::get<sim::EnclosureSpec>(scenario.drives[1].device).answer_delay_ms = 1500;
  Open(std::move(scenario));
  EXPECT_EQ(form_->windowTitle(), "RAID GUI v0.50.11-4");
  EXPECT_EQ(form_->size(), QSize(620, 440));
  EXPECT_TRUE(Find<QLabel>("DetectText")->isVisible());
  EXPECT_EQ(Find<QLabel>("DetectText")->text(), "Drive detecting");

  form_->Image_AboutClick();
  EXPECT_EQ(form_->core().state().current_page.load(), kStatusPage);

  ASSERT_TRUE(WaitFor([&] { return FirstStatusShown() && StateText() == "Normal"; }));
  EXPECT_EQ(form_->windowTitle(), "RAID GUI v0.50.11-4 - TORVANE TR6182 Dual SATA RAID [E]");
  EXPECT_TRUE(Find<QCheckBox>("CheckBox1")->isVisible());
  EXPECT_TRUE(Find<QCheckBox>("CheckBox1")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>("CheckBox3")->isVisible());
  form_->Image_AboutClick();
  EXPECT_EQ(form_->core().state().current_page.load(), kAboutPage);

  // Nothing but the upgrade's own page while an upgrade target is set.
  form_->core().state().upgrade_target_index.store(0);
  form_->Image_StsClick();
  EXPECT_EQ(form_->core().state().current_page.load(), kAboutPage);
  form_->core().state().upgrade_target_index.store(kNoUpgradeTarget);
  form_->Image_StsClick();
  EXPECT_EQ(form_->core().state().current_page.load(), kStatusPage);
  EXPECT_THAT(messages_, IsEmpty());
}

TEST_F(TForm1Test, TheStatusPageFollowsAPulledDriveAndItsRebuild) {
  sim::Scenario scenario = OneEnclosure();
  scenario.timeline.push_back({10000, 1, sim::action::PullMember{1}});
  sim::MemberSpec replacement;
  replacement.serial = "NW1A00009901";
  scenario.timeline.push_back({20000, 1, sim::action::InsertMember{1, replacement}});
  scenario.timeline.push_back({22000, 1, sim::action::StartRebuild{1, 30000}});
  Open(std::move(scenario));

  ASSERT_TRUE(WaitFor([&] { return StateText() == "Normal"; }, 10));
  ASSERT_TRUE(WaitFor([&] { return StateText() == "Single HDD\nPresent"; }, 15));
  ASSERT_TRUE(WaitFor([&] { return StateText().endsWith("%\n>>>>\nRebuilding"); }, 20));
  ASSERT_TRUE(WaitFor([&] { return StateText() == "Normal"; }, 40));
  // The log the viewer shows holds the story too.
  const std::vector<std::string> lines = form_->event_log().Snapshot(0).lines;
  EXPECT_THAT(lines, ::testing::Contains(::testing::HasSubstr("D1 HDD2 was removed, ")));
  EXPECT_THAT(lines, ::testing::Contains(::testing::HasSubstr("D1 HDD1 --> HDD2 ")));
  EXPECT_THAT(messages_, IsEmpty());
}

TEST_F(TForm1Test, ADeviceChangeRestartsTheSettleDelayAndALateEnclosureAppears) {
  sim::Scenario scenario;
  scenario.drives[0] = sim::DriveSpec(sim::PlainDiskSpec{});
  Open(std::move(scenario));
  ASSERT_TRUE(WaitFor([&] { return Find<QLabel>("DetectText")->text() == "No Drive found! "; }));
  EXPECT_FALSE(Find<QCheckBox>("CheckBox1")->isVisible());

  host_->Plug(2, sim::DriveSpec(sim::EnclosureSpec{}));
  form_->DeviceChanged();
  EXPECT_EQ(form_->core().state().device_change_counter.load(), kDeviceChangeStart);
  ASSERT_TRUE(WaitFor([&] { return form_->core().state().device_change_counter.load() > 20; }));
  form_->DeviceChanged();  // a second message starts the delay again
  EXPECT_EQ(form_->core().state().device_change_counter.load(), kDeviceChangeStart);

  ASSERT_TRUE(WaitFor([&] { return Find<QCheckBox>("CheckBox1")->isVisible(); }, 30));
  ASSERT_TRUE(WaitFor([&] { return StateText() == "Normal"; }, 10));
  EXPECT_FALSE(Find<QLabel>("DetectText")->isVisible());
}

TEST_F(TForm1Test, ClosingDuringAnUpgradeIsRefusedWithTheMessage) {
  Open(OneEnclosure());
  ASSERT_TRUE(WaitFor([&] { return FirstStatusShown(); }));
  form_->core().state().upgrade_in_progress.store(true);
  EXPECT_FALSE(form_->close());
  EXPECT_TRUE(form_->isVisible());
  EXPECT_FALSE(form_->QueryEndSession());
  ASSERT_EQ(messages_.size(), 2U);
  EXPECT_EQ(messages_[0],
            (MessageBoxRequest{"Message", "Firmware is upgrading, please wait a moment."}));
  EXPECT_EQ(messages_[1], messages_[0]);

  form_->core().state().upgrade_in_progress.store(false);
  EXPECT_TRUE(form_->close());
  EXPECT_TRUE(form_->WorkersStopped());
}

TEST_F(TForm1Test, TheSmartLineCountsDownToUpdating) {
  Open(OneEnclosure());
  ASSERT_TRUE(WaitFor([&] { return FirstStatusShown(); }));
  form_->Image_SMARTClick();
  QLabel* line = form_->smart_page()->findChild<QLabel*>(QStringLiteral("SmartStatusLine"));
  ASSERT_NE(line, nullptr);
  ASSERT_TRUE(WaitFor([&] { return line->text() == "Updates after 1 second."; }, 70));
  ASSERT_TRUE(WaitFor([&] { return line->text() == "Updating..."; }, 3));
}

// The window thread never waits for a disk: while a poll waits seconds for a slow answer,
// clicks are served at once and no message box comes up.
TEST_F(TForm1Test, ClicksDuringASlowExchangeAreServedAtOnce) {
  Open(OneEnclosure());
  ASSERT_TRUE(WaitFor([&] { return StateText() == "Normal"; }));
  host_->enclosure(1)->SetAnswerDelay(2500);  // about four seconds per poll now
  ASSERT_TRUE(WaitFor([&] { return form_->core().state().status_poll_busy.load(); }, 10));
  const auto start = std::chrono::steady_clock::now();
  form_->Image_AboutClick();
  form_->Image_StsClick();
  Find<QCheckBox>("CheckBox1")->click();
  Find<QCheckBox>("CheckBox1")->click();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_TRUE(form_->core().state().status_poll_busy.load());
  EXPECT_EQ(form_->core().state().current_page.load(), kStatusPage);
  EXPECT_THAT(messages_, IsEmpty());
}

}  // namespace
}  // namespace raid
