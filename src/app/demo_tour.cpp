// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/demo_tour.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QThread>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <tuple>

#include "app/event_log_viewer.h"
#include "app/tform1.h"
#include "events/event_log.h"
#include "events/shared_event_log.h"
#include "gui/status/status_page.h"
#include "gui/widgets/message_boxes.h"
#include "gui/widgets/visible_texts.h"

namespace raid {
namespace {

constexpr int kLookIntervalMs = 100;
// Story time after which a moment that has not come is a failure, not a slow start.
constexpr std::uint64_t kStoryLimitMs = 10 * 60 * 1000;

struct Moment {
  const char* name;
  const char* waiting_for;
};
constexpr Moment kMoments[] = {
    {"1_normal", "both drives normal"},
    {"2_single_hdd", "a drive pulled"},
    {"3_rebuilding", "the rebuild under way"},
    {"4_normal_again", "both drives normal again"},
};

// Serves the window's events while `busy` holds, for at most a few seconds of real time.
template <typename Busy>
void WaitWhile(Busy busy) {
  constexpr qint64 kLimitMs = 3000;
  QElapsedTimer waited;
  waited.start();
  while (busy() && waited.elapsed() < kLimitMs) {
    QApplication::processEvents();
    QThread::msleep(2);
  }
}

int PercentOf(const QString& text) {
  bool ok = false;
  const int percent = text.section('%', 0, 0).toInt(&ok);
  return ok ? percent : -1;
}

}  // namespace

DemoTour::DemoTour(TForm1& form, std::filesystem::path folder, std::vector<double> at_seconds)
    : form_(form), folder_(std::move(folder)), at_seconds_(std::move(at_seconds)) {
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  started_ms_ = form_.clock().NowMs();
  // Nobody is there to read a box: each is told on stderr and answered as a person would.
  ui::AnswerMessageBoxesWith([](const MessageBoxRequest& request) {
    std::fprintf(stderr, "raidgui: message box \"%s\": %s\n", request.caption.c_str(),
                 request.text.c_str());
    return QMessageBox::Ok;
  });
  connect(&look_, &QTimer::timeout, this,
          at_seconds_.empty() ? &DemoTour::Look : &DemoTour::LookAtTimes);
  look_.start(kLookIntervalMs);
}

bool DemoTour::SmartReadDone() const {
  const std::optional<SmartDriveRecord> hdd1 = form_.core().smart_store().Snapshot(0, 0);
  return form_.core().smart_store().ThresholdsRead() && hdd1 && SmartRowCount(hdd1->data) > 0;
}

void DemoTour::Look() {
  if (first_day_file_.empty()) first_day_file_ = form_.event_log().Snapshot(SIZE_MAX).file;
  if (form_.clock().NowMs() - started_ms_ > kStoryLimitMs) {
    Finish(1, std::string("the story never showed ") + kMoments[step_].waiting_for);
    return;
  }
  const QLabel* state = form_.status_page()->findChild<QLabel*>(QStringLiteral("Label18"));
  const QString text = state != nullptr ? state->text() : QString();
  switch (step_) {
    case 0:
      // The SMART page is worth a picture once the first reads have filled it.
      if (text == "Normal" && SmartReadDone()) SaveAllPages(kMoments[0].name);
      break;
    case 1:
      if (text == "Single HDD\nPresent") SaveStatusAndViewer(kMoments[1].name);
      break;
    case 2:
      if (text.contains("Rebuilding") && PercentOf(text) >= 30) {
        SaveStatusAndViewer(kMoments[2].name);
      }
      break;
    case 3:
      if (text == "Normal") {
        SaveStatusAndViewer(kMoments[3].name);
        Finish(0, {});
      }
      break;
    default:
      break;
  }
}

// Story time `at` seconds, as a file name's part: "at_90s", "at_2.5s".
std::string AtName(double at) {
  return "at_" + QString::number(at).toStdString() + "s";
}

void DemoTour::LookAtTimes() {
  const double now = static_cast<double>(form_.clock().NowMs() - started_ms_) / 1000.0;
  if (now < at_seconds_[static_cast<std::size_t>(step_)]) return;
  SaveAllPages(AtName(at_seconds_[static_cast<std::size_t>(step_)]));
  if (static_cast<std::size_t>(step_) == at_seconds_.size()) Finish(0, {});
}

bool DemoTour::Save(QWidget& widget, const std::string& name) {
  const std::filesystem::path file = folder_ / (name + ".png");
  if (!widget.grab().save(QString::fromStdString(file.string()))) {
    Finish(1, "cannot save " + file.string());
    return false;
  }
  QFile texts(QString::fromStdString((folder_ / (name + ".txt")).string()));
  if (!texts.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text) ||
      texts.write(ui::VisibleTexts(widget).toUtf8()) < 0) {
    Finish(1, "cannot save " + texts.fileName().toStdString());
    return false;
  }
  saved_.push_back(file.string());
  return true;
}

// A page the window refuses to show now (before the first status, during an upgrade) gets no
// picture: it would show another page under its name.
void DemoTour::SaveAllPages(const std::string& moment) {
  if (!Save(form_, moment + "_status")) return;
  const std::tuple<void (TForm1::*)(), Page, const char*> pages[] = {
      {&TForm1::Image_FWUpgClick, kUpgradePage, "_upgrade"},
      {&TForm1::Image_EmailClick, kEmailPage, "_email"},
      {&TForm1::Image_SMARTClick, kSmartPage, "_smart"},
      {&TForm1::Image_AboutClick, kAboutPage, "_about"},
  };
  for (const auto& [click, page, suffix] : pages) {
    (form_.*click)();
    QApplication::processEvents();
    if (form_.CurrentPage() != page) continue;
    if (!Save(form_, moment + suffix)) return;
  }
  form_.Image_StsClick();
  SaveStatusAndViewer(moment, true);
}

void DemoTour::SaveStatusAndViewer(const std::string& moment, bool status_saved) {
  if (!status_saved && !Save(form_, moment + "_status")) return;
  // The viewer fills its memo when it shows, unless a status poll runs at that moment; then it
  // waits for its next tick, a second later. A slow machine (Wine) meets a poll often: the
  // picture waits for the poll under way to end, and for the memo.
  WaitWhile([this] { return form_.core().state().polling.status_poll_busy.load(); });
  TForm5 viewer(form_.event_log(), form_.core().state(), 1000, &form_);
  viewer.show();
  QApplication::processEvents();
  WaitWhile([&viewer] { return viewer.Memo1()->document()->isEmpty() || viewer.Busy(); });
  if (!Save(viewer, moment + "_viewer")) return;
  viewer.close();
  ++step_;
}

void DemoTour::Finish(int exit_code, const std::string& why) {
  look_.stop();
  exit_code_ = exit_code;
  if (exit_code == 0) {
    const EventLogSnapshot today = form_.event_log().Snapshot(0);
    if (!first_day_file_.empty() && today.file != first_day_file_) {
      // The window holds the new day's lines; the story's beginning is in the earlier file.
      FolderLogStore earlier(form_.core().log_store().folder());
      if (const std::optional<LogFileLines> read = earlier.Load(first_day_file_)) {
        for (const std::string& line : read->lines)
          std::printf("%s\n", line.c_str());
      } else {
        std::fprintf(stderr, "raidgui: %s\n", earlier.last_error().c_str());
      }
    }
    for (const std::string& line : today.lines)
      std::printf("%s\n", line.c_str());
    std::fprintf(stderr, "raidgui: %zu pictures of the demo in %s\n", saved_.size(),
                 folder_.string().c_str());
  } else {
    std::fprintf(stderr, "raidgui: demo tour stopped: %s\n", why.c_str());
  }
  std::fflush(stdout);
  form_.close();
}

}  // namespace raid
