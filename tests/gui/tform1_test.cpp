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
#include "gui/window_test.h"
#include "health/smart_page.h"
#include "notify/linux/toml_settings_backend.h"
#include "sim_host.h"
#include "status/status_page.h"
#include "ui/message_boxes.h"

namespace raid {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using TForm1Test = testing::WindowTest;
using testing::kSpeed;
namespace fs = std::filesystem;

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
  // The rebuild shows from the first poll after 22 s until it ends at 52 s: wait well into it, so
  // that a busy machine does not turn a late look into a failure.
  ASSERT_TRUE(WaitFor([&] { return StateText().endsWith("%\n>>>>\nRebuilding"); }, 35));
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

// Without device events the detection thread recounts the disks, the first time too: the
// window thread (checked for every window test) opens none, and a late plug is still noticed.
TEST_F(TForm1Test, TheRecountOnTheDetectionThreadNoticesALateEnclosure) {
  sim::Scenario scenario = OneEnclosure();
  scenario.timeline.push_back({15000, 3, sim::action::Plug{sim::DriveSpec(sim::EnclosureSpec{})}});
  Open(std::move(scenario));
  ASSERT_TRUE(WaitFor([&] { return StateText() == "Normal"; }));
  EXPECT_FALSE(Find<QCheckBox>("CheckBox3")->isVisible());
  EXPECT_TRUE(WaitFor([&] { return Find<QCheckBox>("CheckBox3")->isVisible(); }, 40));
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
