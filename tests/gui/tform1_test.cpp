// SPDX-License-Identifier: GPL-2.0-or-later
// The real main window on the offscreen platform, with a simulated host behind it whose clock
// (and the window's timers with it) runs fast.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cctype>
#include <filesystem>
#include <memory>
#include <random>

#include "app/tform1.h"
#include "gui/smart/smart_page.h"
#include "gui/status/status_page.h"
#include "gui/widgets/message_boxes.h"
#include "gui/window_test.h"
#include "health/smart_page_view.h"
#include "sim_host.h"

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
  EXPECT_EQ(form_->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                                    Qt::WindowCloseButtonHint),
            Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  EXPECT_LE((form_->frameGeometry().center() -
             QGuiApplication::primaryScreen()->availableGeometry().center())
                .manhattanLength(),
            10);  // the frame is not known before the window shows
  // The panels keep their design widths in the status bar's smaller font, and the longest
  // texts of each fit.
  for (const auto& [panel, text] : {std::pair{"Panel0", "Chksum:FFFFFFFF"},
                                    {"Panel1", "Detected OK"},
                                    {"Panel2", "Email=255"},
                                    {"Panel2", "F:FFFFFFFF"},
                                    {"Panel3", "Send mail Success!"},
                                    {"Panel3", "C:FFFFFFFF"}}) {
    QLabel* label = Find<QLabel>(panel);
    EXPECT_LE(label->fontMetrics().horizontalAdvance(QString::fromLatin1(text)),
              label->contentsRect().width())
        << panel << " cuts off " << text;
  }
  EXPECT_TRUE(Find<QLabel>("DetectText")->isVisible());
  EXPECT_EQ(Find<QLabel>("DetectText")->text(), "Drive detecting");
  // The detection text has a place of its own, where the device boxes stand once found.
  const auto on_window = [&](const QWidget* widget) {
    return QRect(widget->mapTo(form_.get(), QPoint(0, 0)), widget->size());
  };
  for (const QWidget* other : form_->status_page()->findChildren<QWidget*>()) {
    if (other->parentWidget() == form_->status_page()) {
      EXPECT_FALSE(on_window(Find<QLabel>("DetectText")).intersects(on_window(other)))
          << other->objectName().toStdString();
    }
  }

  form_->Image_AboutClick();
  EXPECT_EQ(form_->CurrentPage(), kStatusPage);

  ASSERT_TRUE(WaitFor([&] { return FirstStatusShown() && StateText() == "Normal"; }));
  EXPECT_EQ(form_->windowTitle(), "RAID GUI v0.50.11-4 - TORVANE TR6182 Dual SATA RAID [E]");
  EXPECT_TRUE(Find<QCheckBox>("CheckBox1")->isVisible());
  EXPECT_TRUE(Find<QCheckBox>("CheckBox1")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>("CheckBox3")->isVisible());
  form_->Image_AboutClick();
  EXPECT_EQ(form_->CurrentPage(), kAboutPage);

  // Nothing but the upgrade's own page while an upgrade target is set.
  form_->core().state().upgrade.target_index.store(0);
  form_->Image_StsClick();
  EXPECT_EQ(form_->CurrentPage(), kAboutPage);
  form_->core().state().upgrade.target_index.store(kNoUpgradeTarget);
  form_->Image_StsClick();
  EXPECT_EQ(form_->CurrentPage(), kStatusPage);
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
  EXPECT_EQ(form_->core().state().detection.change_counter.load(), kDeviceChangeStart);
  ASSERT_TRUE(WaitFor([&] { return form_->core().state().detection.change_counter.load() > 20; }));
  form_->DeviceChanged();  // a second message starts the delay again
  EXPECT_EQ(form_->core().state().detection.change_counter.load(), kDeviceChangeStart);

  ASSERT_TRUE(WaitFor([&] { return Find<QCheckBox>("CheckBox1")->isVisible(); }, 30));
  ASSERT_TRUE(WaitFor([&] { return StateText() == "Normal"; }, 10));
  EXPECT_FALSE(Find<QLabel>("DetectText")->isVisible());
}

// One story through the page: a USB stick plugged in, the second enclosure unplugged while it is
// shown, the first falling silent and answering again, then unplugged too.
TEST_F(TForm1Test, TheStatusPageShowsOnlyWhatIsTrue) {
  sim::Scenario scenario = OneEnclosure();
  sim::EnclosureSpec second;
  second.raw_mode = kModeStriping;
  scenario.drives[2] = sim::DriveSpec(second);
  Open(std::move(scenario));
  const auto label = [&](const char* name) {
    return form_->status_page()->findChild<QLabel*>(QString::fromLatin1(name));
  };
  ASSERT_TRUE(WaitFor([&] { return Find<QCheckBox>("CheckBox3")->isVisible(); }));
  ASSERT_TRUE(WaitFor([&] { return StateText() == "Normal"; }));
  const QString first_mode = label("Label17")->text();
  form_->StatusDeviceClick(1);
  ASSERT_NE(label("Label17")->text(), first_mode);

  // Another list that leaves the shown enclosure where it was keeps its values meanwhile.
  const QString model = label("Label51")->text();
  ASSERT_FALSE(model.isEmpty());
  host_->Plug(3, sim::DriveSpec(sim::PlainDiskSpec{}));
  form_->DeviceChanged();
  bool blanked = false;
  WaitFor([&] { return (blanked |= label("Label51")->text() != model), false; }, 20);
  EXPECT_FALSE(blanked);

  // The shown enclosure leaves: the page turns to the one that stays, never to a zeroed record.
  host_->Unplug(2);
  form_->DeviceChanged();
  ASSERT_TRUE(WaitFor([&] { return !Find<QCheckBox>("CheckBox3")->isVisible(); }, 30));
  WaitFor([] { return false; }, 6);
  EXPECT_EQ(StateText(), "Normal");
  EXPECT_EQ(label("Label17")->text(), first_mode);
  EXPECT_EQ(form_->core().state().target.selected_index.load(), 0);

  // Polling gives up on a silent enclosure: its values are no longer current.
  host_->enclosure(1)->SetNeverAnswer(true);
  ASSERT_TRUE(WaitFor([&] { return !Find<QCheckBox>("CheckBox1")->isChecked(); }, 300));
  ASSERT_TRUE(WaitFor([&] { return StateText() == "No response"; }, 10));
  EXPECT_FALSE(label("Label17")->isEnabled());
  // The status bar says so, whatever the polls write meanwhile, until the box is checked again.
  QLabel* panel = Find<QLabel>("Panel4");
  EXPECT_EQ(panel->text(), "Device1: No response");
  host_->enclosure(1)->SetNeverAnswer(false);
  Find<QCheckBox>("CheckBox1")->click();
  EXPECT_NE(panel->text(), "Device1: No response");
  ASSERT_TRUE(WaitFor([&] { return StateText() == "Normal"; }, 30));
  EXPECT_TRUE(label("Label17")->isEnabled());

  // The last one leaves while its SMART page shows: nothing of it stays, neither on a page nor
  // in the title, and the Status page says what is known.
  form_->Image_SMARTClick();
  ASSERT_TRUE(WaitFor([&] { return !form_->smart().view().title.empty(); }, 10));
  host_->Unplug(1);
  form_->DeviceChanged();
  ASSERT_TRUE(
      WaitFor([&] { return Find<QLabel>("DetectText")->text() == "No Drive found! "; }, 30));
  for (const char* value : {"Label17", "Label27", "Label48", "Label18", "Label5", "Label51"})
    EXPECT_EQ(label(value)->text(), "") << value;
  EXPECT_EQ(form_->windowTitle(), "RAID GUI v0.50.11-4");
  EXPECT_EQ(form_->CurrentPage(), kStatusPage);
  EXPECT_EQ(form_->smart().view().title, "");
  EXPECT_EQ(form_->smart_page()->findChild<QLabel*>(QStringLiteral("SmartStatusLine"))->text(), "");
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
  form_->core().state().upgrade.in_progress.store(true);
  EXPECT_FALSE(form_->close());
  EXPECT_TRUE(form_->isVisible());
  EXPECT_FALSE(form_->QueryEndSession());
  ASSERT_EQ(messages_.size(), 2U);
  EXPECT_EQ(messages_[0],
            (MessageBoxRequest{"Message", "Firmware is upgrading, please wait a moment."}));
  EXPECT_EQ(messages_[1], messages_[0]);

  form_->core().state().upgrade.in_progress.store(false);
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
// clicks are served before it ends and no message box comes up; closing hides the window at once
// and serves events while the poll ends. How fast: window_stall_bench's "clicks during a slow
// exchange" and "closing during a hung read".
TEST_F(TForm1Test, ClicksDuringASlowExchangeAreServedWhileItRuns) {
  Open(OneEnclosure());
  ASSERT_TRUE(WaitFor([&] { return StateText() == "Normal"; }));
  host_->enclosure(1)->SetAnswerDelay(2500);  // about four seconds per poll now
  ASSERT_TRUE(WaitFor([&] { return form_->core().state().polling.status_poll_busy.load(); }, 10));
  form_->Image_AboutClick();
  form_->Image_StsClick();
  Find<QCheckBox>("CheckBox1")->click();
  Find<QCheckBox>("CheckBox1")->click();
  EXPECT_TRUE(form_->core().state().polling.status_poll_busy.load());
  EXPECT_EQ(form_->CurrentPage(), kStatusPage);
  EXPECT_THAT(messages_, IsEmpty());
}

TEST_F(TForm1Test, ClosingDuringAHungReadHidesAtOnceAndServesEventsMeanwhile) {
  Open(OneEnclosure());
  ASSERT_TRUE(WaitFor([&] { return StateText() == "Normal"; }));
  sim::FaultSpec hang;
  hang.hold_reads.push_back({std::nullopt, 20000, 1});  // the next read, a second here
  host_->enclosure(1)->SetFaults(hang);
  // The enclosure is read many times a second: the hold is taken, and the read now waits.
  ASSERT_TRUE(WaitFor([&] { return !host_->enclosure(1)->ReadHoldsPending(); }));
  bool served_hidden_while_closing = false;
  QTimer::singleShot(20, [&] { served_hidden_while_closing = !form_->isVisible(); });
  EXPECT_TRUE(form_->close());
  EXPECT_TRUE(served_hidden_while_closing);
  EXPECT_TRUE(form_->WorkersStopped());
}

// A day's log the folder cannot take is never lost in silence: said in the status bar and once
// per episode in a box, with the path; said when saving works again; and on closing with lines
// unsaved, how many and where.
TEST_F(TForm1Test, ALogThatCannotBeSavedIsNeverLostInSilence) {
  const fs::path logs = folder_ / "logs";
  std::ofstream(logs) << "a file where the log folder should be\n";
  adjust_options_ = [&](WindowOptions& options) { options.log_folder = logs; };
  Open(OneEnclosure());
  QLabel* panel = Find<QLabel>("Panel4");
  const auto panel_says = [&](const char* text) { return panel->text().startsWith(text); };
  ASSERT_TRUE(WaitFor([&] { return panel_says("The daily log cannot be saved now"); }));
  EXPECT_THAT(panel->text().toStdString(), ::testing::HasSubstr(logs.string()));
  WaitFor([] { return false; }, 30);  // more polls, more lines, no more boxes
  ASSERT_EQ(messages_.size(), 1U);
  EXPECT_EQ(messages_[0].caption, "Warning:");
  EXPECT_EQ(messages_[0].text, panel->text().toStdString());
  // A SMART row chosen meanwhile does not hide it.
  form_->Image_SMARTClick();
  ASSERT_TRUE(WaitFor([&] { return form_->smart().view().table_shown; }, 90));
  form_->smart().SelectCell(0, static_cast<int>(kSmartNameColumn));
  EXPECT_TRUE(panel_says("The daily log cannot be saved now"));
  form_->Image_StsClick();

  fs::remove(logs);
  ASSERT_TRUE(WaitFor([&] { return panel_says("The daily log is saved again"); }));
  EXPECT_EQ(messages_.size(), 1U);

  fs::remove_all(logs);
  std::ofstream(logs) << "the file again\n";
  // A pulled drive gives lines that cannot go anywhere now.
  host_->enclosure(1)->PullDrive(1);
  ASSERT_TRUE(WaitFor([&] { return messages_.size() == 2; }));
  form_->close();
  ASSERT_EQ(messages_.size(), 3U);
  // "N lines of the daily log could not be saved to LOGS/YYMMDD.log: why", the folder in the
  // system's own form (no regular expression: MinGW's GoogleTest has only simple ones).
  const std::string& said = messages_[2].text;
  const std::string to = " of the daily log could not be saved to " + (logs / "").string();
  const std::size_t at = said.find(to);
  ASSERT_NE(at, std::string::npos) << said;
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(said[0]))) << said;
  EXPECT_EQ(said.substr(at + to.size() + 6, 6), ".log: ") << said;
  EXPECT_TRUE(form_->LinesLeftUnsaved());
}

}  // namespace
}  // namespace raid
