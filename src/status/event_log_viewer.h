// The event-log viewer (TForm5): the day's log as it grows, or a log file picked by the user.
// What it shows is decided by LogViewerModel; this class only carries it to the widgets.
#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

#include "common/shared_state.h"
#include "status/log_viewer_model.h"
#include "status/shared_event_log.h"

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
  void Apply(const MemoUpdate& update, bool show_end);

  std::unique_ptr<Ui::TForm5> ui_;
  LogViewerModel model_;
  QTimer timer1_;
  FilePicker pick_file_;
  bool closed_ = false;
};

// The name the window's code knows it by.
using EventLogViewer = TForm5;

}  // namespace raid
