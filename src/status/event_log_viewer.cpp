#include "status/event_log_viewer.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTextCursor>
#include <filesystem>
#include <string>

#include "status/event_log.h"
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

QString Joined(const std::vector<std::string>& lines) {
  std::string text;
  std::size_t size = 0;
  for (const std::string& line : lines)
    size += line.size() + 1;
  text.reserve(size);
  for (const std::string& line : lines) {
    if (&line != &lines.front()) text += '\n';
    text += line;
  }
  return QString::fromStdString(text);
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
  ui_->Memo1->clear();
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
  SetLook(model_.Look());
  Apply(model_.RealTime(), true);
  timer1_.start();
}

void TForm5::Button2Click() {
  timer1_.stop();
  const QString name = pick_file_();
  if (name.isEmpty()) return;
  const LogViewerModel::FileView view = model_.ViewFile(PathOf(name));
  setWindowTitle(QString::fromStdString(view.caption));
  Apply(view.memo, false);
}

void TForm5::FormClose() {
  closed_ = true;
  timer1_.stop();
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

void TForm5::Apply(const MemoUpdate& update, bool show_end) {
  if (update.replace) {
    ui_->Memo1->setPlainText(Joined(update.lines));
    // The live log opens at its newest lines, a file at its top.
    if (show_end) ui_->Memo1->moveCursor(QTextCursor::End);
  } else if (!update.lines.empty()) {
    // Follows the new lines only while the view is at the end: a reader scrolled up stays.
    ui_->Memo1->appendPlainText(Joined(update.lines));
  }
}

}  // namespace raid
