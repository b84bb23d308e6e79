// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/event_log_viewer.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QGuiApplication>
#include <QPalette>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QPromise>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QTextCursor>
#include <QTextDocument>
#include <filesystem>
#include <string>
#include <utility>

#include "common/detached_thread.h"
#include "events/event_log.h"
#include "ui_tform5.h"

namespace raid {
namespace {

constexpr const char* kLogFileFilter = "Log File (*.log);;All File (*)";

// UTF-16 on both sides, so that no locale stands between a file name and the file.
std::filesystem::path PathOf(const QString& name) {
  return std::filesystem::path(name.toStdU16String());
}

QString NameOf(const std::filesystem::path& path) {
  return QString::fromStdU16String(path.u16string());
}

// Text the memo takes at once: a few milliseconds of its work. Batches follow each other for
// as long as one turn of the event loop may take; then the window's events have their turn.
constexpr std::size_t kBatchBytes = 16 * 1024;
constexpr qint64 kTurnNs = 5'000'000;

// Gives the memo an empty document of its own, without undo (the memo is read-only). The one it
// showed is deleted on a later turn of the event loop: a whole day's document takes some 20 ms to
// delete, which is not added to the first batch of the new text.
void NewDocument(QPlainTextEdit& memo) {
  // The memo deletes its first document itself when it is given another; ours are its children.
  QTextDocument* shown = memo.document();
  QTextDocument* ours = shown->parent() == &memo ? shown : nullptr;
  auto* document = new QTextDocument(&memo);
  document->setDocumentLayout(new QPlainTextDocumentLayout(document));
  document->setUndoRedoEnabled(false);
  document->setDefaultFont(memo.font());
  memo.setDocument(document);
  if (ours != nullptr) ours->deleteLater();
}

// Reads the file on a detached thread, which holds everything it touches: a window closed
// meanwhile, or a file that is slow to read, keeps nobody waiting. Without a thread the future
// ends with no result.
QFuture<LogViewerModel::FileView> ReadOnOwnThread(const std::filesystem::path& path) {
  QPromise<LogViewerModel::FileView> promise;
  QFuture<LogViewerModel::FileView> future = promise.future();
  promise.start();
  RunDetached([path, promise = std::move(promise)]() mutable {
    promise.addResult(LogViewerModel::ReadFile(path));
    promise.finish();
  });
  return future;
}

// The buttons' places were laid out for a smaller font than many desktops use: a caption that
// does not fit widens its button about the same centre.
void FitToCaption(QPushButton& button) {
  const int needed = button.sizeHint().width();
  if (needed <= button.width()) return;
  QRect place = button.geometry();
  place.adjust(-(needed - place.width()) / 2, 0, 0, 0);
  place.setWidth(needed);
  button.setGeometry(place);
}

}  // namespace

TForm5::TForm5(const SharedEventLog& log, const SharedState& state, int interval_ms,
               QWidget* parent, FilePicker pick_file)
    : QDialog(parent), ui_(std::make_unique<Ui::TForm5>()), model_(log, state) {
  ui_->setupUi(this);
  // Only the system menu: no help button, no minimise or maximise, and a size of its own.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(size());
  FitToCaption(*ui_->Button1);
  FitToCaption(*ui_->Button2);
  const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
  if (screen != nullptr) move(screen->availableGeometry().center() - rect().center());

  pick_file_ = pick_file ? std::move(pick_file) : [this] { return OpenDialog1(); };
  timer1_.setInterval(interval_ms);
  connect(&timer1_, &QTimer::timeout, this, &TForm5::Timer1Timer);
  connect(ui_->Button1, &QPushButton::clicked, this, &TForm5::Button1Click);
  connect(ui_->Button2, &QPushButton::clicked, this, &TForm5::Button2Click);
  connect(&file_read_, &QFutureWatcher<LogViewerModel::FileView>::finished, this,
          &TForm5::FileRead);
  next_batch_.setSingleShot(true);
  next_batch_.setInterval(0);
  connect(&next_batch_, &QTimer::timeout, this, &TForm5::ShowNextBatch);
  NewDocument(*ui_->Memo1);
}

TForm5::~TForm5() = default;

QPlainTextEdit* TForm5::Memo1() const {
  return ui_->Memo1;
}

QPushButton* TForm5::Button1() const {
  return ui_->Button1;
}

QPushButton* TForm5::Button2() const {
  return ui_->Button2;
}

bool TForm5::Busy() const {
  return file_read_running_ || !waiting_lines_.Empty() || (live_ && model_.MoreToShow());
}

void TForm5::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // A window manager's restore is no new showing.
  if (!event->spontaneous()) FormShow();
}

void TForm5::done(int result) {
  FormClose();
  QDialog::done(result);
}

void TForm5::FormShow() {
  SetLook(model_.Look());
  timer1_.start();
  Apply(model_.Show(), true);
}

void TForm5::Timer1Timer() {
  if (closed_) return;
  SetLook(model_.Look());
  Apply(model_.Tick(), true);
}

void TForm5::Button1Click() {
  timer1_.stop();
  StopFileRead();
  SetLook(model_.Look());
  Apply(model_.RealTime(), true);
  timer1_.start();
}

void TForm5::Button2Click() {
  timer1_.stop();
  const QString name = pick_file_();
  if (name.isEmpty()) return;
  StopFileRead();
  file_being_read_ = PathOf(name);
  setWindowTitle(QString::fromStdString(LogViewerModel::FileCaption(file_being_read_)));
  Apply(MemoUpdate{true, {}}, false);
  file_read_running_ = true;
  file_read_.setFuture(ReadOnOwnThread(file_being_read_));
}

void TForm5::FileRead() {
  if (!file_read_running_) return;
  file_read_running_ = false;
  QFuture<LogViewerModel::FileView> future = file_read_.future();
  // Only when no thread could be had: the file is read here, as a last resort.
  LogViewerModel::FileView view =
      future.resultCount() > 0 ? future.takeResult() : LogViewerModel::ReadFile(file_being_read_);
  model_.FileShown(file_being_read_, view);
  setWindowTitle(QString::fromStdString(view.caption));
  Apply(std::move(view.memo), false);
}

// A read that is no longer wanted ends on its own thread; its view is dropped.
void TForm5::StopFileRead() {
  file_read_running_ = false;
  file_read_.setFuture(QFuture<LogViewerModel::FileView>());
}

void TForm5::FormClose() {
  closed_ = true;
  timer1_.stop();
  StopFileRead();
  next_batch_.stop();
  waiting_lines_.Clear();
  live_ = false;
}

QString TForm5::OpenDialog1() {
  const std::filesystem::path& last = model_.LastFile();
  const QString folder = NameOf(last.empty() ? LogFolder() : last.parent_path());
  return QFileDialog::getOpenFileName(this, QString(), folder, kLogFileFilter);
}

void TForm5::SetLook(const LogViewerLook& look) {
  setWindowTitle(QString::fromStdString(look.caption));
  const QPalette& colours = QGuiApplication::palette();
  const QColor text = look.paused ? colours.color(QPalette::Disabled, QPalette::Text)
                                  : colours.color(QPalette::Active, QPalette::Text);
  QPalette palette = ui_->Memo1->palette();
  palette.setColor(QPalette::Active, QPalette::Text, text);
  palette.setColor(QPalette::Inactive, QPalette::Text, text);
  ui_->Memo1->setPalette(palette);
}

void TForm5::Apply(MemoUpdate update, bool show_end) {
  Take(std::move(update), show_end);
  ShowNextBatch();
}

void TForm5::Take(MemoUpdate update, bool show_end) {
  if (update.replace) {
    waiting_lines_.Clear();
    NewDocument(*ui_->Memo1);
    memo_replaced_ = true;
    // The live log opens at its newest lines, a file at its top.
    live_ = show_end;
  }
  waiting_lines_.Add(std::move(update.lines));
}

void TForm5::ShowNextBatch() {
  QElapsedTimer turn;
  turn.start();
  do {
    // The live log's next part is taken once the memo has shown the last one.
    if (waiting_lines_.Empty() && live_ && model_.MoreToShow()) Take(model_.Tick(), true);
    if (waiting_lines_.Empty()) break;
    ShowBatch(QString::fromStdString(waiting_lines_.Next(kBatchBytes)));
  } while (turn.nsecsElapsed() < kTurnNs);
  if (!waiting_lines_.Empty() || (live_ && model_.MoreToShow())) next_batch_.start();
}

void TForm5::ShowBatch(const QString& text) {
  QPlainTextEdit& memo = *ui_->Memo1;
  QScrollBar& bar = *memo.verticalScrollBar();
  if (memo_replaced_) {
    memo_replaced_ = false;
    memo.setPlainText(text);
    if (live_) {
      memo.moveCursor(QTextCursor::End);
      bar.setValue(bar.maximum());
    }
  } else if (live_) {
    // Follows the new lines only while the view is at the end: a reader scrolled up stays.
    const bool at_end = bar.value() == bar.maximum();
    memo.appendPlainText(text);
    if (at_end) bar.setValue(bar.maximum());
  } else {
    // A file stays where its reader is while the rest of it arrives.
    const int shown = bar.value();
    memo.appendPlainText(text);
    bar.setValue(shown);
  }
}

}  // namespace raid
