#include "health/smart_page.h"

#include <QFont>
#include <QHeaderView>
#include <QString>
#include <QTableWidget>

#include "ui/pixel_font.h"
#include "ui/two_state_image_button.h"
#include "ui_smart_page.h"

namespace raid {

using ui::kTextPixels;
using ui::PixelFont;

namespace {

// The column widths were drawn for a small font: at 10 px "Threshold" and a 12-digit raw value
// still fit their columns beside the cell margins.
constexpr int kGridPixels = 10;
constexpr int kRowHeight = 16;

void SetUpGrid(QTableWidget* grid) {
  grid->setFont(PixelFont(kGridPixels));
  for (int column = 0; column < static_cast<int>(SmartPage::kColumnWidths.size()); ++column)
    grid->setColumnWidth(column, SmartPage::kColumnWidths[column]);
  grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid->verticalHeader()->setDefaultSectionSize(kRowHeight);
}

}  // namespace

SmartPage::SmartPage(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::SmartPage>()) {
  ui_->setupUi(this);
  setFont(PixelFont(kTextPixels));
  SetUpGrid(ui_->SmartHeaderGrid);
  SetUpGrid(ui_->StringGrid3);
  connect(ui_->Image5_HDD1, &QAbstractButton::clicked, this, [this] { emit DriveClicked(0); });
  connect(ui_->Image5_HDD2, &QAbstractButton::clicked, this, [this] { emit DriveClicked(1); });
}

SmartPage::~SmartPage() = default;

void SmartPage::SetStatusLine(const std::string& text) {
  ui_->SmartStatusLine->setText(QString::fromStdString(text));
}

void SmartPage::SetShownDrive(unsigned drive) {
  ui_->Image5_HDD1->setCurrent(drive == 0);
  ui_->Image5_HDD2->setCurrent(drive == 1);
}

}  // namespace raid
