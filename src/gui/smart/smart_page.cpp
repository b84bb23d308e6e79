// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui/smart/smart_page.h"

#include <QEvent>
#include <QFont>
#include <QHeaderView>
#include <QPainter>
#include <QString>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include "gui/widgets/pixel_font.h"
#include "gui/widgets/two_state_image_button.h"
#include "ui_smart_page.h"

namespace raid {

using ui::kTextPixels;
using ui::PixelFont;

namespace {

// The column widths were drawn for a small font: at 10 px "Threshold" and a 12-digit raw value
// still fit their columns beside the cell margins.
constexpr int kGridPixels = 10;
constexpr int kRowHeight = 16;

// The grids paint their own cells: the row's colour over the whole cell, whether selected or
// not, the first column's text from the top-left corner and the others centred. The current
// cell keeps a focus frame so that the keyboard's place stays visible.
class CellPainter : public QStyledItemDelegate {
 public:
  CellPainter(bool all_centred, QObject* parent)
      : QStyledItemDelegate(parent), all_centred_(all_centred) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    painter->save();
    const QVariant colour = index.data(Qt::BackgroundRole);
    painter->fillRect(option.rect, colour.isValid() ? colour.value<QBrush>() : QBrush(Qt::white));
    painter->setPen(Qt::black);
    painter->setFont(option.font);
    const bool centred = all_centred_ || index.column() != 0;
    const Qt::Alignment alignment =
        centred ? Qt::AlignCenter : Qt::Alignment(Qt::AlignLeft | Qt::AlignTop);
    painter->drawText(option.rect.adjusted(2, 0, -2, 0), alignment | Qt::TextSingleLine,
                      index.data(Qt::DisplayRole).toString());
    if (option.state & QStyle::State_HasFocus) {
      painter->setPen(QPen(Qt::black, 1, Qt::DotLine));
      painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    }
    painter->restore();
  }

 private:
  bool all_centred_;
};

void SetUpGrid(QTableWidget* grid, bool all_centred) {
  grid->setFont(PixelFont(kGridPixels));
  for (int column = 0; column < static_cast<int>(SmartPage::kColumnWidths.size()); ++column)
    grid->setColumnWidth(column, SmartPage::kColumnWidths[column]);
  grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid->verticalHeader()->setDefaultSectionSize(kRowHeight);
  grid->setItemDelegate(new CellPainter(all_centred, grid));
}

}  // namespace

SmartPage::SmartPage(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::SmartPage>()) {
  ui_->setupUi(this);
  setFont(PixelFont(kTextPixels));
  SetUpGrid(ui_->SmartHeaderGrid, true);
  SetUpGrid(ui_->StringGrid3, false);
  ui_->StringGrid3->hide();
  ui_->SmartStatusLine->installEventFilter(this);
  connect(ui_->Image5_HDD1, &QAbstractButton::clicked, this, [this] { emit DriveClicked(0); });
  connect(ui_->Image5_HDD2, &QAbstractButton::clicked, this, [this] { emit DriveClicked(1); });
  connect(ui_->StringGrid3, &QTableWidget::currentCellChanged, this,
          [this](int row, int column, int, int) {
            if (row >= 0 && column >= 0) emit CellSelected(row, column);
          });
}

SmartPage::~SmartPage() = default;

bool SmartPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_->SmartStatusLine && event->type() == QEvent::MouseButtonDblClick) {
    emit StatusLineDoubleClicked();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void SmartPage::SetStatusLine(const std::string& text) {
  ui_->SmartStatusLine->setText(QString::fromStdString(text));
}

void SmartPage::SetShownDrive(unsigned drive) {
  ui_->Image5_HDD1->setCurrent(drive == 0);
  ui_->Image5_HDD2->setCurrent(drive == 1);
}

void SmartPage::SetTitle(const std::string& text) {
  ui_->SmartTitle->setText(QString::fromStdString(text));
}

void SmartPage::ShowTable(bool shown) {
  QTableWidget* table = ui_->StringGrid3;
  const bool was_hidden = table->isHidden();
  if (!shown) {
    table->hide();
    return;
  }
  table->show();
  if (was_hidden && table->rowCount() > 0) {
    table->setCurrentCell(0, 0);
    table->setFocus();
  }
}

void SmartPage::SetRows(const std::vector<Row>& rows) {
  QTableWidget* table = ui_->StringGrid3;
  // Refilling must not announce selections the user did not make.
  const QSignalBlocker quiet(table);
  table->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    for (int c = 0; c < static_cast<int>(rows[r].cells.size()); ++c) {
      QTableWidgetItem* item = table->item(r, c);
      if (item == nullptr) {
        item = new QTableWidgetItem;
        table->setItem(r, c, item);
      }
      item->setText(QString::fromStdString(rows[r].cells[c]));
      item->setBackground(rows[r].colour);
    }
  }
  table->viewport()->update();
}

void SmartPage::SetVerdict(const std::string& text, const QColor& colour) {
  ui_->SmartVerdict->setText(QString::fromStdString(text));
  QPalette palette = ui_->SmartVerdict->palette();
  palette.setColor(QPalette::WindowText, colour);
  ui_->SmartVerdict->setPalette(palette);
}

void SmartPage::SetSectorSupport(const std::string& text, const std::string& hint) {
  ui_->Smart4K->setText(QString::fromStdString(text));
  ui_->Smart4K->setToolTip(QString::fromStdString(hint));
}

void SmartPage::SetTableHint(const std::string& hint) {
  ui_->StringGrid3->setToolTip(QString::fromStdString(hint));
}

}  // namespace raid
