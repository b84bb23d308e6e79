// SPDX-License-Identifier: GPL-2.0-or-later
// The event-log viewer on the offscreen platform: the live log as it grows and starts over, the
// paused look, and log files that can or cannot be shown.
#include "app/event_log_viewer.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "events/shown_lines.h"
#include "support/temp_folder.h"
#include "support/viewer_texts.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace raid {
namespace {

constexpr int kTickMs = 20;
constexpr int kTickTimeoutMs = 2000;
constexpr int kShowTimeoutMs = 20000;

std::vector<std::string> Numbered(const std::string& prefix, int count) {
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i)
    lines.push_back(prefix + " line " + std::to_string(i));
  return lines;
}

class EventLogViewerTest : public ::testing::Test {
 protected:
  EventLogViewerTest() { state_.polling.work_requests = kLogRunningFlag | kRequestStatusPoll; }

  void Append(const std::vector<std::string>& lines) {
    log_.lines.insert(log_.lines.end(), lines.begin(), lines.end());
    shared_.Publish(log_);
  }
  void NewDay(const std::vector<std::string>& lines) {
    log_.lines = lines;
    ++log_.generation;
    shared_.Publish(log_);
  }
  TForm5& Open() {
    form_ = std::make_unique<TForm5>(shared_, state_, kTickMs, nullptr,
                                     [this] { return picked_file_; });
    form_->show();
    return *form_;
  }
  std::vector<std::string> Memo() const {
    const QString text = form_->Memo1()->toPlainText();
    std::vector<std::string> lines;
    if (text.isEmpty()) return lines;
    for (const QString& line : text.split('\n'))
      lines.push_back(line.toStdString());
    return lines;
  }
  bool WaitForTicks(int ticks = 1) {
    QSignalSpy spy(&form_->Timer1(), &QTimer::timeout);
    while (spy.count() < ticks) {
      if (!spy.wait(kTickTimeoutMs)) return false;
    }
    return true;
  }
  QColor MemoTextColour() const {
    return form_->Memo1()->palette().color(QPalette::Active, QPalette::Text);
  }
  // The file is read on a thread of its own and shown in batches: this waits until all is shown.
  void ClickViewLogFile(const std::filesystem::path& file) {
    picked_file_ = QString::fromStdU16String(file.u16string());
    QTest::mouseClick(form_->Button2(), Qt::LeftButton);
    EXPECT_TRUE(WaitUntilShown());
  }
  bool WaitUntilShown() {
    return QTest::qWaitFor([this] { return !form_->Busy(); }, kShowTimeoutMs);
  }
  // The memo's sizes seen from the event loop, one each turn, while it fills.
  std::set<int> SizesWhileFilling() {
    std::set<int> sizes;
    QTimer turn;
    turn.setInterval(0);
    QObject::connect(&turn, &QTimer::timeout, [&] { sizes.insert(form_->Memo1()->blockCount()); });
    turn.start();
    EXPECT_TRUE(WaitUntilShown());
    return sizes;
  }
  void ClickRealTimeLog() { QTest::mouseClick(form_->Button1(), Qt::LeftButton); }
  std::filesystem::path WriteFile(const std::string& name, const std::string& content) {
    const std::filesystem::path path = folder_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  SharedState state_;
  EventLog log_;
  SharedEventLog shared_;
  testing::TempFolder folder_{"event_log_viewer_test_"};
  QString picked_file_;
  std::unique_ptr<TForm5> form_;
};

TEST_F(EventLogViewerTest, ShowsTheLogOnceThenTheNewLinesOfEachTickUntilClosed) {
  Append(Numbered("first", 120));
  Open();
  EXPECT_EQ(form_->windowTitle(), "Event log - Real Time");
  EXPECT_EQ(Memo(), log_.lines);
  EXPECT_TRUE(form_->Timer1().isActive());

  Append({"new 1", "new 2", "new 3"});
  ASSERT_TRUE(WaitForTicks());
  EXPECT_EQ(Memo(), log_.lines);
  ASSERT_TRUE(WaitForTicks(2));
  EXPECT_EQ(Memo(), log_.lines);  // nothing twice

  form_->close();
  EXPECT_TRUE(form_->IsClosed());
  EXPECT_FALSE(form_->Timer1().isActive());
}

TEST_F(EventLogViewerTest, NewDayStartsOverWhateverItsLength) {
  Append(Numbered("day 1", 120));
  Open();
  NewDay(Numbered("day 2", 120));
  ASSERT_TRUE(WaitForTicks());
  EXPECT_EQ(Memo(), log_.lines);

  NewDay(Numbered("day 3", 2));
  Append(Numbered("day 3 more", 140));
  ASSERT_TRUE(WaitForTicks());
  EXPECT_EQ(Memo(), log_.lines);
}

TEST_F(EventLogViewerTest, WhileARefreshRunsTheLogWaitsForTheNextTick) {
  Append(Numbered("before", 120));
  state_.polling.status_poll_busy = true;
  Open();
  EXPECT_TRUE(Memo().empty());
  Append({"during the refresh"});
  ASSERT_TRUE(WaitForTicks(2));
  EXPECT_TRUE(Memo().empty());

  state_.polling.status_poll_busy = false;
  ASSERT_TRUE(WaitForTicks());
  EXPECT_EQ(Memo(), log_.lines);
  ASSERT_TRUE(WaitForTicks());
  EXPECT_EQ(Memo(), log_.lines);
}

TEST_F(EventLogViewerTest, HeldOffPollingShowsThePausedCaptionInGreyUntilTheNextTick) {
  Append(Numbered("log", 10));
  Open();
  const QColor normal = QGuiApplication::palette().color(QPalette::Active, QPalette::Text);
  const QColor grey = QGuiApplication::palette().color(QPalette::Disabled, QPalette::Text);
  ASSERT_NE(normal, grey);
  EXPECT_EQ(MemoTextColour(), normal);

  state_.polling.work_requests.fetch_and(static_cast<std::uint8_t>(~kLogRunningFlag));
  ASSERT_TRUE(WaitForTicks());
  EXPECT_EQ(form_->windowTitle(), "Event log - Real Time( Paused )");
  EXPECT_EQ(MemoTextColour(), grey);

  state_.polling.work_requests.fetch_or(kLogRunningFlag);
  ASSERT_TRUE(WaitForTicks());
  EXPECT_EQ(form_->windowTitle(), "Event log - Real Time");
  EXPECT_EQ(MemoTextColour(), normal);
}

TEST_F(EventLogViewerTest, FileIsShownUntilRealTimeLogReturnsToTheLiveLog) {
  Append(Numbered("live", 10));
  Open();
  picked_file_.clear();  // cancelled: the live log stays, without its timer
  QTest::mouseClick(form_->Button2(), Qt::LeftButton);
  EXPECT_FALSE(form_->Timer1().isActive());
  EXPECT_EQ(form_->windowTitle(), "Event log - Real Time");
  EXPECT_EQ(Memo(), log_.lines);

  // Written on the other platform: its line ends must not show.
  const std::filesystem::path file = WriteFile("261208.log", "older 1\r\nolder 2\r\n");
  ClickViewLogFile(file);
  EXPECT_EQ(form_->windowTitle(), "Event log - 261208.log");
  EXPECT_EQ(Memo(), (std::vector<std::string>{"older 1", "older 2"}));
  EXPECT_EQ(form_->model().LastFile(), file);

  Append({"logged meanwhile"});
  QTest::qWait(5 * kTickMs);
  EXPECT_FALSE(form_->Timer1().isActive());
  EXPECT_EQ(Memo(), (std::vector<std::string>{"older 1", "older 2"}));

  ClickRealTimeLog();
  EXPECT_EQ(form_->windowTitle(), "Event log - Real Time");
  EXPECT_EQ(Memo(), log_.lines);
  Append({"after"});
  ASSERT_TRUE(WaitForTicks());
  EXPECT_EQ(Memo(), log_.lines);
}

TEST_F(EventLogViewerTest, FileThatCannotBeReadSaysWhyAndLeavesTheViewerUsable) {
  Append(Numbered("live", 10));
  Open();
  std::vector<std::filesystem::path> unreadable = {folder_ / "missing.log", folder_};
#if !defined(_WIN32)
  const std::filesystem::path fifo = folder_ / "fifo.log";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  unreadable.push_back(fifo);  // opening it could wait for a writer for ever
  if (::geteuid() != 0) {
    const std::filesystem::path locked = WriteFile("locked.log", "secret\n");
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    unreadable.push_back(locked);
  }
#endif
  for (const std::filesystem::path& path : unreadable) {
    SCOPED_TRACE(path.string());
    ClickViewLogFile(path);
    const std::vector<std::string> memo = Memo();
    ASSERT_EQ(memo.size(), 1U);
    EXPECT_EQ(memo[0].rfind("Cannot show the log file: ", 0), 0U);
    EXPECT_NE(memo[0].find(path.string()), std::string::npos);
    EXPECT_TRUE(form_->model().LastFile().empty());

    ClickRealTimeLog();
    EXPECT_EQ(Memo(), log_.lines);
    EXPECT_TRUE(form_->Timer1().isActive());
  }
}

TEST_F(EventLogViewerTest, LargeFileLoadsQuicklyAndAHugeOneIsRefused) {
  Open();
  std::string content;
  while (content.size() < (4u << 20)) {
    content += "D1 HDD1 --> HDD2 " + std::to_string(content.size() % 100) +
               "%, 12/08/26 10:00:00 with some more words to fill the line\n";
  }
  const std::filesystem::path large = WriteFile("large.log", content);
  QElapsedTimer elapsed;
  elapsed.start();
  ClickViewLogFile(large);
  form_->repaint();
  EXPECT_LT(elapsed.elapsed(), 3000);
  EXPECT_EQ(form_->Memo1()->blockCount(),
            static_cast<int>(std::count(content.begin(), content.end(), '\n')));

  const std::filesystem::path huge = folder_ / "huge.log";
  std::ofstream(huge).close();
  std::filesystem::resize_file(huge, kLargestViewedFile + 1);
  ClickViewLogFile(huge);
  EXPECT_EQ(Memo(), std::vector<std::string>{"Cannot show the log file: " + huge.string() +
                                             " is larger than 8 MB"});
}

TEST_F(EventLogViewerTest, OverlongLinesAreShownCutWithANote) {
  const std::string corrupt(300 * 1024, 'x');
  Append({"before", corrupt, "after"});
  Open();
  EXPECT_EQ(Memo(), (std::vector<std::string>{"before", ShownLine(corrupt), "after"}));
  EXPECT_NE(Memo()[1].find("[line cut: " + std::to_string(corrupt.size() - kLongestShownLine) +
                           " more characters]"),
            std::string::npos);

  Append({corrupt + "y"});
  ASSERT_TRUE(WaitForTicks());
  EXPECT_EQ(Memo().back(), ShownLine(corrupt + "y"));
  if (const char* folder = std::getenv("RAIDGUI_PICTURE_DIR")) {
    EXPECT_TRUE(form_->grab().save(QString::fromLocal8Bit(folder) + "/event_log_viewer_cut.png"));
  }

  const std::string one_line(1 << 20, 'z');
  ClickViewLogFile(WriteFile("one-line.log", one_line));
  EXPECT_EQ(Memo(), std::vector<std::string>{ShownLine(one_line)});
}

TEST_F(EventLogViewerTest, LongTextsReachTheMemoInStepsWithEventsBetween) {
  Append(testing::DayLines(60000));
  Open();
  EXPECT_TRUE(form_->Busy());
  EXPECT_GT(SizesWhileFilling().size(), 2U);
  EXPECT_EQ(Memo(), log_.lines);
  EXPECT_EQ(form_->Memo1()->verticalScrollBar()->value(),
            form_->Memo1()->verticalScrollBar()->maximum());  // at the newest lines
  form_->Memo1()->verticalScrollBar()->setValue(0);           // a reader scrolled up stays there
  Append({"logged later"});
  ASSERT_TRUE(WaitForTicks());
  EXPECT_EQ(Memo(), log_.lines);
  EXPECT_EQ(form_->Memo1()->verticalScrollBar()->value(), 0);

  const std::vector<std::string> older = testing::DayLines(50000);
  picked_file_ = QString::fromStdU16String(
      WriteFile("older.log", testing::FileText(older, "\r\n")).u16string());
  QTest::mouseClick(form_->Button2(), Qt::LeftButton);
  EXPECT_TRUE(form_->Busy());  // read on its own thread
  EXPECT_GT(SizesWhileFilling().size(), 2U);
  EXPECT_EQ(Memo(), older);
  EXPECT_EQ(form_->Memo1()->verticalScrollBar()->value(), 0);  // at its top

  // "Real Time Log" while a file is read: the file is dropped.
  QTest::mouseClick(form_->Button2(), Qt::LeftButton);
  ClickRealTimeLog();
  ASSERT_TRUE(WaitUntilShown());
  QTest::qWait(5 * kTickMs);
  EXPECT_EQ(Memo(), log_.lines);
  EXPECT_EQ(form_->windowTitle(), "Event log - Real Time");
}

// A day as the detector writes it; saved as a picture when RAIDGUI_PICTURE_DIR is set.
TEST_F(EventLogViewerTest, RealisticLogFitsTheWindow) {
  const std::string stamp = "12/08/26 10:00:00";
  const std::string separator(83, '-');
  Append({separator, "RAID GUI v0.50.11-4 has started from " + stamp,
          "Device1 information :", "Model# TORVANE TR6182", "Mirroring(RAID1), F/W Rev. 09061A.3",
          "Configured Capacity : 931 GB(1953525168 Sectors)", "  HDD1 is present.(SATA)00",
          "    Model no.: WDC WD10EZEX-00BN5A0", "    Serial no.: \"WD-WCC3F0000001     \"",
          "    Capacity : 931 GB(1953525168 Sectors)", "  HDD2 is absent. 03", separator,
          "D1 HDD2 was inserted, 06" + stamp, "D1 HDD1 --> HDD2 5%, " + stamp,
          "D1 HDD1 --> HDD2 6%, " + stamp, "D1 HDD1 --> HDD2 Done, " + stamp});
  Open();
  EXPECT_EQ(form_->size(), QSize(465, 273));
  EXPECT_TRUE(form_->Memo1()->verticalScrollBar()->isVisible());
  EXPECT_TRUE(form_->Memo1()->font().bold());
  for (const QPushButton* button : {form_->Button1(), form_->Button2()}) {
    SCOPED_TRACE(button->text().toStdString());
    EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()) + 8, button->width());
    EXPECT_LE(button->geometry().bottom(), form_->rect().bottom());
  }
  const QPixmap picture = form_->grab();
  EXPECT_EQ(picture.size(), QSize(465, 273) * picture.devicePixelRatio());
  if (const char* folder = std::getenv("RAIDGUI_PICTURE_DIR")) {
    EXPECT_TRUE(picture.save(QString::fromLocal8Bit(folder) + "/event_log_viewer.png"));
  }
}

}  // namespace
}  // namespace raid
