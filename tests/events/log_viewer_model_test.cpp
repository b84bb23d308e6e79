// SPDX-License-Identifier: GPL-2.0-or-later
// The viewer's model on a long day: its lines are handed out a part at a time, each once, and a
// corrupt line comes out cut.
#include "events/log_viewer_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "events/shown_lines.h"
#include "support/viewer_texts.h"

namespace raid {
namespace {

class LogViewerModelTest : public ::testing::Test {
 protected:
  LogViewerModelTest() { state_.polling.work_requests = kLogRunningFlag; }

  void Publish() { shared_.Publish(log_); }
  // What the memo would hold after `first` and the parts that follow it.
  std::vector<std::string> Memo(LogViewerModel& model, MemoUpdate first) {
    std::vector<std::string> memo = std::move(first.lines);
    ++parts_;
    while (model.MoreToShow()) {
      const MemoUpdate part = model.Tick();
      EXPECT_FALSE(part.replace);
      memo.insert(memo.end(), part.lines.begin(), part.lines.end());
      ++parts_;
    }
    return memo;
  }

  SharedState state_;
  EventLog log_;
  SharedEventLog shared_;
  int parts_ = 0;
};

TEST_F(LogViewerModelTest, LongDayComesInPartsEachLineOnceAndTheCorruptOneCut) {
  log_.lines = testing::DayLines(20000);
  log_.lines[7] = std::string(300 * 1024, 'x');
  Publish();
  LogViewerModel model(shared_, state_);
  std::vector<std::string> expected = log_.lines;
  expected[7] = ShownLine(log_.lines[7]);

  EXPECT_EQ(Memo(model, model.Show()), expected);
  EXPECT_GT(parts_, 2);
  EXPECT_EQ(model.ShownLineCount(), log_.lines.size());

  // Lines logged while the parts are taken come after them; a refresh holds the parts back.
  parts_ = 0;
  MemoUpdate first = model.RealTime();
  log_.lines.push_back("logged meanwhile");
  expected.push_back("logged meanwhile");
  Publish();
  state_.polling.status_poll_busy = true;
  EXPECT_FALSE(model.MoreToShow());
  state_.polling.status_poll_busy = false;
  EXPECT_EQ(Memo(model, std::move(first)), expected);
}

}  // namespace
}  // namespace raid
