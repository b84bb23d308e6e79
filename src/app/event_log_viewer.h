// SPDX-License-Identifier: GPL-2.0-or-later
// The event-log viewer (TForm5): the day's log as it grows, or a log file picked by the user.
// What it shows is decided by LogViewerModel; this class only carries it to the widgets. A picked
// file is read on a thread of its own, and a large text reaches the memo a batch per event-loop
// turn, so that the window answers while a day of 8 MB is shown.
#pragma once

#include <QDialog>
#include <QFutureWatcher>
#include <QString>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>

#include "common/shared_state.h"
#include "events/log_viewer_model.h"
#include "events/shared_event_log.h"
#include "events/shown_lines.h"

class QPlainTextEdit;
class QPushButton;

namespace Ui {
class TForm5;
}

namespace raid {

class TForm5 : public QDialog {
  Q_OBJECT

 public:
  // Picks the file to view; an empty name when the user cancels.
  using FilePicker = std::function<QString()>;

  // `interval_ms` is Timer1's period. Without `pick_file` the platform's open dialog asks.
  TForm5(const SharedEventLog& log, const SharedState& state, int interval_ms,
         QWidget* parent = nullptr, FilePicker pick_file = {});
  ~TForm5() override;

  QPlainTextEdit* Memo1() const;
  QPushButton* Button1() const;  // "Real Time Log"
  QPushButton* Button2() const;  // "View Log File"
  const QTimer& Timer1() const { return timer1_; }
  const LogViewerModel& model() const { return model_; }
  bool IsClosed() const { return closed_; }
  // A picked file is being read, or lines of it or of the live log wait for their turn in the
  // memo.
  bool Busy() const;

  // Both the close button and Escape end here.
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
  void Timer1Timer();
  void Button1Click();
  void Button2Click();
  void FormClose();

  QString OpenDialog1();
  void SetLook(const LogViewerLook& look);
  void FileRead();
  void StopFileRead();
  // Apply shows the first batch of `update` at once and the rest from later turns; Take only
  // queues it.
  void Apply(MemoUpdate update, bool show_end);
  void Take(MemoUpdate update, bool show_end);
  void ShowNextBatch();
  void ShowBatch(const QString& text);

  std::unique_ptr<Ui::TForm5> ui_;
  LogViewerModel model_;
  QTimer timer1_;
  FilePicker pick_file_;
  bool closed_ = false;

  QFutureWatcher<LogViewerModel::FileView> file_read_;
  bool file_read_running_ = false;
  std::filesystem::path file_being_read_;

  LineBatches waiting_lines_;
  QTimer next_batch_;           // the next event-loop turn
  bool memo_replaced_ = false;  // the next batch replaces what the memo shows
  // The memo shows the live log: it follows the end, and a long log is taken a part at a time.
  bool live_ = false;
};

// The name the window's code knows it by.
using EventLogViewer = TForm5;

}  // namespace raid
