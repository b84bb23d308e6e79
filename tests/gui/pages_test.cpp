// SPDX-License-Identifier: GPL-2.0-or-later
// The Upgrade, E-mail, SMART and About pages on their own, each in a white 420 x 316 place as
// the window's notebook holds it: the controls the window finds by name, what the window's calls
// change, and a layout in which nothing is cut off, drawn over another control or stretched.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStyle>
#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/about/about_page.h"
#include "gui/email/email_page.h"
#include "gui/smart/smart_page.h"
#include "gui/status/status_page.h"
#include "gui/upgrade/upgrade_page.h"
#include "gui/widgets/picture.h"
#include "gui/widgets/two_state_image_button.h"

namespace raid {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Button = ui::TwoStateImageButton;

constexpr QSize kNotebookPage(420, 316);

// The notebook page the window gives each page: white, 420 x 316.
class Place {
 public:
  Place() {
    host_.setFixedSize(kNotebookPage);
    QPalette white = host_.palette();
    white.setColor(QPalette::Window, Qt::white);
    host_.setPalette(white);
    host_.setAutoFillBackground(true);
  }
  QWidget* host() { return &host_; }
  void Show() { host_.show(); }

 private:
  QWidget host_;
};

template <typename T>
T* Find(const QWidget& page, const char* name) {
  return page.findChild<T*>(QString::fromLatin1(name));
}

std::vector<unsigned> Current(const std::vector<Button*>& buttons) {
  std::vector<unsigned> current;
  for (unsigned i = 0; i < buttons.size(); ++i)
    if (buttons[i]->isCurrent()) current.push_back(i);
  return current;
}

// --- Layout checks ---------------------------------------------------------------------------

bool IsControl(const QWidget* widget) {
  return qobject_cast<const QLabel*>(widget) != nullptr ||
         qobject_cast<const QLineEdit*>(widget) != nullptr ||
         qobject_cast<const QAbstractButton*>(widget) != nullptr ||
         qobject_cast<const QAbstractScrollArea*>(widget) != nullptr ||
         qobject_cast<const QProgressBar*>(widget) != nullptr;
}

// The controls a user sees, without the parts of composite ones (a grid's scroll bars).
std::vector<QWidget*> VisibleControls(QWidget& page, const std::vector<QWidget*>& covered) {
  std::vector<QWidget*> controls;
  for (QWidget* widget : page.findChildren<QWidget*>()) {
    if (!IsControl(widget) || !widget->isVisibleTo(&page)) continue;
    bool part = false;
    for (QWidget* up = widget->parentWidget(); up != &page && up != nullptr;
         up = up->parentWidget()) {
      if (IsControl(up) || std::find(covered.begin(), covered.end(), up) != covered.end())
        part = true;
    }
    if (!part) controls.push_back(widget);
  }
  return controls;
}

QRect OnPage(const QWidget& page, const QWidget& widget) {
  return {widget.mapTo(&page, QPoint(0, 0)), widget.size()};
}

std::string Name(const QWidget& widget) {
  return widget.objectName().toStdString();
}

// A cell's text beside the margins the item view leaves on both sides and the grid line.
bool CellTextFits(const QTableWidget& grid, int row, int column) {
  const QTableWidgetItem* item = grid.item(row, column);
  if (item == nullptr) return true;
  const int margin = grid.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &grid) + 1;
  const QFontMetrics metrics(grid.font());
  return metrics.horizontalAdvance(item->text()) + 2 * margin <= grid.columnWidth(column) - 1 &&
         metrics.height() <= grid.rowHeight(row) - 1;
}

void CheckText(const QWidget& control, std::vector<std::string>& faults) {
  const std::string name = Name(control);
  if (const auto* label = qobject_cast<const QLabel*>(&control)) {
    const QRect room = label->contentsRect();
    if (label->wordWrap()) {
      if (label->heightForWidth(room.width()) > room.height())
        faults.push_back(name + ": wrapped text taller than the label");
      return;
    }
    const QFontMetrics metrics(label->font());
    const QStringList lines = label->text().split(QLatin1Char('\n'));
    for (const QString& line : lines)
      if (metrics.horizontalAdvance(line) > room.width())
        faults.push_back(name + ": \"" + line.toStdString() + "\" wider than the label");
    if (lines.size() * metrics.height() > room.height())
      faults.push_back(name + ": text taller than the label");
  } else if (const auto* box = qobject_cast<const QCheckBox*>(&control)) {
    if (box->sizeHint().width() > box->width() || box->sizeHint().height() > box->height())
      faults.push_back(name + ": caption cut off");
  } else if (const auto* edit = qobject_cast<const QLineEdit*>(&control)) {
    if (edit->minimumSizeHint().height() > edit->height())
      faults.push_back(name + ": lower than its text");
  } else if (const auto* grid = qobject_cast<const QTableWidget*>(&control)) {
    int width = 0;
    for (int column = 0; column < grid->columnCount(); ++column)
      width += grid->columnWidth(column);
    if (width > grid->viewport()->width()) faults.push_back(name + ": columns wider than the grid");
    if (grid->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOff) {
      int height = 0;
      for (int row = 0; row < grid->rowCount(); ++row)
        height += grid->rowHeight(row);
      if (height > grid->viewport()->height())
        faults.push_back(name + ": rows that cannot be scrolled to");
    }
    for (int row = 0; row < grid->rowCount(); ++row)
      for (int column = 0; column < grid->columnCount(); ++column)
        if (!CellTextFits(*grid, row, column))
          faults.push_back(name + ": cell " + std::to_string(row) + "," + std::to_string(column) +
                           " cut off");
  }
}

// Every visible control inside the page and inside its own container, clear of every other
// one, with room for its text; `covered` containers lie under another one and are left out.
std::vector<std::string> LayoutFaults(QWidget& page, const std::vector<QWidget*>& covered = {}) {
  std::vector<std::string> faults;
  const std::vector<QWidget*> controls = VisibleControls(page, covered);
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const QWidget& control = *controls[i];
    const QRect rect = OnPage(page, control);
    if (!QRect(QPoint(0, 0), kNotebookPage).contains(rect))
      faults.push_back(Name(control) + ": outside the page");
    if (!control.parentWidget()->rect().contains(control.geometry()))
      faults.push_back(Name(control) + ": outside " + Name(*control.parentWidget()));
    for (std::size_t j = i + 1; j < controls.size(); ++j)
      if (rect.intersects(OnPage(page, *controls[j])))
        faults.push_back(Name(control) + " overlaps " + Name(*controls[j]));
    CheckText(control, faults);
  }
  return faults;
}

// A picture button without its two pictures is blank; one of another size is stretched.
std::vector<std::string> PictureFaults(const QWidget& page) {
  std::vector<std::string> faults;
  for (const Button* button : page.findChildren<Button*>()) {
    for (const char* state : {"yellow", "white"}) {
      const QString file = QStringLiteral("%1_%2").arg(button->picture(), state);
      const ui::Picture picture(file);
      if (!picture.isValid())
        faults.push_back(Name(*button) + ": no picture " + file.toStdString());
      else if (picture.size() != button->size())
        faults.push_back(Name(*button) + ": " + file.toStdString() + " stretched");
    }
  }
  return faults;
}

// Each page as it looks, for a person to judge: page_<name>.png in the temporary folder.
void SavePicture(QWidget& page, const std::string& name) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("page_" + name + ".png");
  const QPixmap picture = page.grab();
  EXPECT_EQ(picture.size(), kNotebookPage);
  EXPECT_TRUE(picture.save(QString::fromStdString(file.string()))) << file;
}

void SetText(const QWidget& page, const char* label, const char* text) {
  Find<QLabel>(page, label)->setText(QString::fromUtf8(text));
}

// --- Upgrade page ------------------------------------------------------------------------------

TEST(UpgradePageTest, StartsWithNoDeviceNothingToPressAndNoProgress) {
  Place place;
  UpgradePage page(place.host());
  place.Show();
  for (const char* name : {"Image2_D1", "Image2_D2", "Image2_Load", "Image2_Upgrade"})
    ASSERT_NE(Find<Button>(page, name), nullptr) << name;
  ASSERT_NE(Find<QLabel>(page, "UpgradeVersionLabel"), nullptr);
  ASSERT_NE(Find<QLineEdit>(page, "UpgradePathEdit"), nullptr);
  ASSERT_NE(Find<QProgressBar>(page, "UpgradeProgressBar"), nullptr);

  EXPECT_FALSE(Find<Button>(page, "Image2_D1")->isVisible());
  EXPECT_FALSE(Find<Button>(page, "Image2_D2")->isVisible());
  EXPECT_FALSE(Find<Button>(page, "Image2_Load")->isEnabled());
  EXPECT_FALSE(Find<Button>(page, "Image2_Upgrade")->isEnabled());
  EXPECT_FALSE(Find<QFrame>(page, "UpgradeProgressPanel")->isVisible());
  // The progress panel covers the notice when it is shown.
  EXPECT_EQ(Find<QFrame>(page, "UpgradeProgressPanel")->geometry(),
            Find<QFrame>(page, "Panel_Notice")->geometry());
  EXPECT_TRUE(Find<QFrame>(page, "UpgradeProgressPanel")->autoFillBackground());
}

// Buttons that act sink while the mouse holds them (nothing is connected to their clicks here).
TEST(UpgradePageTest, ActingButtonsSinkWhilePressed) {
  Place place;
  UpgradePage upgrade(place.host());
  StatusPage status(place.host());
  place.Show();
  upgrade.EnableLoadButton(true);
  upgrade.EnableUpgradeButton(true);
  status.ShowLogButton(true);
  for (Button* button :
       {Find<Button>(upgrade, "Image2_Load"), Find<Button>(upgrade, "Image2_Upgrade"),
        Find<Button>(status, "Image0_Log")}) {
    const QPoint at = button->pos();
    QTest::mousePress(button, Qt::LeftButton);
    EXPECT_EQ(button->pos(), at + QPoint(0, 2)) << button->objectName().toStdString();
    QTest::mouseRelease(button, Qt::LeftButton);
    EXPECT_EQ(button->pos(), at) << button->objectName().toStdString();
  }
}

TEST(UpgradePageTest, DeviceButtonsShowHighlightHintAndReportClicks) {
  Place place;
  UpgradePage page(place.host());
  place.Show();
  Button* d1 = Find<Button>(page, "Image2_D1");
  Button* d2 = Find<Button>(page, "Image2_D2");

  page.ShowDeviceButtons(1, true);
  EXPECT_FALSE(d1->isVisible());
  EXPECT_TRUE(d2->isVisible());
  page.ShowDeviceButtons(0, true);
  page.ShowDeviceButtons(2, false);  // no third device: nothing changes
  EXPECT_TRUE(d1->isVisible());
  EXPECT_TRUE(d2->isVisible());

  page.SetShownDevice(1);
  EXPECT_THAT(Current({d1, d2}), ElementsAre(1U));
  page.SetShownDevice(0);
  EXPECT_THAT(Current({d1, d2}), ElementsAre(0U));

  page.SetDeviceHints({"JMS RAID [E]", "JMS RAID [FG]"});
  EXPECT_EQ(d1->toolTip(), "JMS RAID [E]");
  EXPECT_EQ(d2->toolTip(), "JMS RAID [FG]");

  // The window decides whether a click changes the device: the page only reports it.
  QSignalSpy clicked(&page, &UpgradePage::DeviceClicked);
  d2->click();
  d1->click();
  ASSERT_EQ(clicked.size(), 2);
  EXPECT_EQ(clicked[0][0].toUInt(), 1U);
  EXPECT_EQ(clicked[1][0].toUInt(), 0U);
  EXPECT_THAT(Current({d1, d2}), ElementsAre(0U));
}

TEST(UpgradePageTest, ShowsVersionProgressAndEnablesItsButtons) {
  Place place;
  UpgradePage page(place.host());
  page.SetVersionText("100126.1");
  EXPECT_EQ(Find<QLabel>(page, "UpgradeVersionLabel")->text(), "100126.1");

  // A 40960-byte image counts to 810, far beyond the bar's design-time 100.
  QProgressBar* bar = Find<QProgressBar>(page, "UpgradeProgressBar");
  page.SetProgressMaximum(810);
  page.SetProgress(640);
  EXPECT_EQ(bar->maximum(), 810);
  EXPECT_EQ(bar->value(), 640);

  page.EnableLoadButton(true);
  EXPECT_TRUE(Find<Button>(page, "Image2_Load")->isEnabled());
  EXPECT_FALSE(Find<Button>(page, "Image2_Upgrade")->isEnabled());
  page.EnableUpgradeButton(true);
  page.EnableLoadButton(false);
  EXPECT_FALSE(Find<Button>(page, "Image2_Load")->isEnabled());
  EXPECT_TRUE(Find<Button>(page, "Image2_Upgrade")->isEnabled());
}

TEST(UpgradePageTest, LaidOutCleanlyWithAndWithoutTheProgressPanel) {
  Place place;
  UpgradePage page(place.host());
  page.ShowDeviceButtons(0, true);
  page.ShowDeviceButtons(1, true);
  page.SetShownDevice(0);
  page.EnableLoadButton(true);
  page.EnableUpgradeButton(true);
  page.SetVersionText("100126.1");
  Find<QLineEdit>(page, "UpgradePathEdit")->setText(QStringLiteral("/home/user/firmware.bin"));
  place.Show();
  EXPECT_THAT(LayoutFaults(page), IsEmpty());
  SavePicture(page, "upgrade");

  QFrame* progress = Find<QFrame>(page, "UpgradeProgressPanel");
  progress->show();
  SetText(page, "UpgradeProgressCaption", "Process 2 / 3");
  SetText(page, "UpgradeProgressLabel", "Firmware Update...");
  page.SetProgressMaximum(810);
  page.SetProgress(400);
  EXPECT_THAT(LayoutFaults(page, {Find<QFrame>(page, "Panel_Notice")}), IsEmpty());
  SavePicture(page, "upgrade_progress");
}

// --- E-mail page -------------------------------------------------------------------------------

struct SubPageControls {
  const char* sub_page;
  std::vector<const char*> edits;
  std::vector<const char*> buttons;
  std::vector<const char*> boxes;
  std::vector<const char*> memos;
  std::vector<const char*> grids;
};

const std::array<SubPageControls, 3> kSubPages = {{
    {"EmailPage_Setup",
     {"Edit1", "Edit2", "Edit3", "Edit4", "Edit5", "Edit8", "Edit12"},
     {"Image3_Test"},
     {"CheckBox8"},
     {},
     {}},
    {"EmailPage_HDDFail",
     {"Edit7", "Edit10"},
     {"Image3_1P", "Image3_1M"},
     {"CheckBox2"},
     {"Memo6"},
     {"StringGrid1"}},
    {"EmailPage_DeviceRemove",
     {"Edit6", "Edit11"},
     {"Image3_2P", "Image3_2M"},
     {"CheckBox4"},
     {"Memo4"},
     {"StringGrid2"}},
}};

TEST(EmailPageTest, EachControlSitsOnItsSubPage) {
  Place place;
  EmailPage page(place.host());
  auto* notebook = Find<QStackedWidget>(page, "EmailNotebook");
  ASSERT_NE(notebook, nullptr);
  ASSERT_EQ(notebook->count(), 3);
  for (int index = 0; index < 3; ++index) {
    const SubPageControls& expected = kSubPages[index];
    QWidget* sub_page = notebook->widget(index);
    EXPECT_EQ(sub_page->objectName(), expected.sub_page);
    for (const char* name : expected.edits)
      EXPECT_NE(Find<QLineEdit>(*sub_page, name), nullptr) << name;
    for (const char* name : expected.buttons)
      EXPECT_NE(Find<Button>(*sub_page, name), nullptr) << name;
    for (const char* name : expected.boxes)
      EXPECT_NE(Find<QCheckBox>(*sub_page, name), nullptr) << name;
    for (const char* name : expected.memos)
      EXPECT_NE(Find<QPlainTextEdit>(*sub_page, name), nullptr) << name;
    for (const char* name : expected.grids) {
      const auto* grid = Find<QTableWidget>(*sub_page, name);
      ASSERT_NE(grid, nullptr) << name;
      EXPECT_EQ(grid->rowCount(), 10) << name;
      EXPECT_EQ(grid->columnCount(), 1) << name;
    }
  }
  // The sub-page buttons, OK and Ignore serve every sub-page.
  for (const char* name :
       {"Image3_Setup", "Image3_HDDFail", "Image3_DeviceRemove", "Image3_OK", "Image3_Ignore"}) {
    const Button* button = Find<Button>(page, name);
    ASSERT_NE(button, nullptr) << name;
    EXPECT_FALSE(notebook->isAncestorOf(button)) << name;
  }
}

TEST(EmailPageTest, FieldsKeepTheirLimitsAndLoginFieldsStartHidden) {
  Place place;
  EmailPage page(place.host());
  place.Show();
  EXPECT_EQ(Find<QLineEdit>(page, "Edit5")->maxLength(), 2);
  QLineEdit* password = Find<QLineEdit>(page, "Edit8");
  EXPECT_EQ(password->maxLength(), 15);
  EXPECT_EQ(password->echoMode(), QLineEdit::Password);
  EXPECT_EQ(password->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, password),
            '*');
  // Unticked authentication: no account or password to fill in.
  EXPECT_FALSE(Find<QCheckBox>(page, "CheckBox8")->isChecked());
  for (const char* name : {"Edit8", "Edit12", "Caption_Account", "Caption_Password"})
    EXPECT_FALSE(Find<QWidget>(page, name)->isVisibleTo(&page)) << name;
  for (const char* name : {"CheckBox2", "CheckBox4"})
    EXPECT_EQ(Find<QCheckBox>(page, name)->text(), "Don't send EMail for this event.");
}

TEST(EmailPageTest, ShowSubPageSwitchesNotebookPicturesAndClearsBothAddressFields) {
  Place place;
  EmailPage page(place.host());
  place.Show();
  const std::vector<Button*> buttons = {Find<Button>(page, "Image3_Setup"),
                                        Find<Button>(page, "Image3_HDDFail"),
                                        Find<Button>(page, "Image3_DeviceRemove")};
  auto* notebook = Find<QStackedWidget>(page, "EmailNotebook");
  QLineEdit* hdd_entry = Find<QLineEdit>(page, "Edit7");
  QLineEdit* removal_entry = Find<QLineEdit>(page, "Edit6");
  QLineEdit* subject = Find<QLineEdit>(page, "Edit10");
  subject->setText(QStringLiteral("Disk failed"));

  for (unsigned sub_page : {2U, 0U, 1U}) {
    hdd_entry->setText(QStringLiteral("admin@example.com"));
    removal_entry->setText(QStringLiteral("ops@example.com"));
    page.ShowSubPage(sub_page);
    EXPECT_EQ(notebook->currentIndex(), static_cast<int>(sub_page));
    EXPECT_THAT(Current(buttons), ElementsAre(sub_page));
    EXPECT_THAT(hdd_entry->text().toStdString(), IsEmpty());
    EXPECT_THAT(removal_entry->text().toStdString(), IsEmpty());
  }
  // Only the address entries are cleared; what the user typed elsewhere stays.
  EXPECT_EQ(subject->text(), "Disk failed");

  hdd_entry->setText(QStringLiteral("admin@example.com"));
  page.ShowSubPage(3);  // no such sub-page
  EXPECT_EQ(notebook->currentIndex(), 1);
  EXPECT_THAT(Current(buttons), ElementsAre(1U));
  EXPECT_EQ(hdd_entry->text(), "admin@example.com");
}

TEST(EmailPageTest, SubPageButtonsReportTheirSubPage) {
  Place place;
  EmailPage page(place.host());
  QSignalSpy clicked(&page, &EmailPage::SubPageClicked);
  Find<Button>(page, "Image3_DeviceRemove")->click();
  Find<Button>(page, "Image3_Setup")->click();
  Find<Button>(page, "Image3_HDDFail")->click();
  ASSERT_EQ(clicked.size(), 3);
  EXPECT_EQ(clicked[0][0].toUInt(), 2U);
  EXPECT_EQ(clicked[1][0].toUInt(), 0U);
  EXPECT_EQ(clicked[2][0].toUInt(), 1U);
}

TEST(EmailPageTest, EachSubPageLaidOutCleanly) {
  Place place;
  EmailPage page(place.host());
  // The login fields as a ticked authentication box shows them.
  for (const char* name : {"Edit8", "Edit12", "Caption_Account", "Caption_Password"})
    Find<QWidget>(page, name)->show();
  Find<QCheckBox>(page, "CheckBox8")->setChecked(true);
  Find<QLineEdit>(page, "Edit2")->setText(QStringLiteral("smtp.example.com"));
  Find<QLineEdit>(page, "Edit1")->setText(QStringLiteral("25"));
  Find<QLineEdit>(page, "Edit5")->setText(QStringLiteral("30"));
  Find<QLineEdit>(page, "Edit8")->setText(QStringLiteral("secret"));
  for (const char* grid : {"StringGrid1", "StringGrid2"}) {
    auto* addresses = Find<QTableWidget>(page, grid);
    for (int row = 0; row < 10; ++row)
      addresses->setItem(row, 0,
                         new QTableWidgetItem(QStringLiteral("recipient%1@example.com").arg(row)));
  }
  place.Show();
  const std::array<const char*, 3> names = {"email_setup", "email_hdd_fail", "email_device_remove"};
  for (unsigned sub_page = 0; sub_page < names.size(); ++sub_page) {
    page.ShowSubPage(sub_page);
    EXPECT_THAT(LayoutFaults(page), IsEmpty()) << names[sub_page];
    SavePicture(page, names[sub_page]);
  }
}

// --- SMART page --------------------------------------------------------------------------------

TEST(SmartPageTest, HeaderGridNamesTheColumnsOfTheAttributeTable) {
  Place place;
  SmartPage page(place.host());
  const auto* header = Find<QTableWidget>(page, "SmartHeaderGrid");
  const auto* table = Find<QTableWidget>(page, "StringGrid3");
  ASSERT_NE(header, nullptr);
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(header->rowCount(), 1);
  ASSERT_EQ(header->columnCount(), 6);
  std::vector<std::string> cells;
  for (int column = 0; column < 6; ++column)
    cells.push_back(header->item(0, column)->text().toStdString());
  EXPECT_THAT(cells, ElementsAre("ID", "Value", "Worst", "Threshold", "RAW", "Status"));

  EXPECT_EQ(table->columnCount(), 6);
  EXPECT_EQ(table->rowCount(), 0);
  for (int column = 0; column < 6; ++column) {
    EXPECT_EQ(header->columnWidth(column), SmartPage::kColumnWidths[column]) << column;
    EXPECT_EQ(table->columnWidth(column), SmartPage::kColumnWidths[column]) << column;
  }
  // The header sits on the table, column over column.
  EXPECT_EQ(header->x(), table->x());
  EXPECT_EQ(header->geometry().bottom() + 1, table->y());
}

TEST(SmartPageTest, StatusLineAndDriveSelector) {
  Place place;
  SmartPage page(place.host());
  place.Show();
  page.SetStatusLine("Updates after 60 seconds.");
  EXPECT_EQ(Find<QLabel>(page, "SmartStatusLine")->text(), "Updates after 60 seconds.");
  page.SetStatusLine("Updating...");
  EXPECT_EQ(Find<QLabel>(page, "SmartStatusLine")->text(), "Updating...");

  Button* hdd1 = Find<Button>(page, "Image5_HDD1");
  Button* hdd2 = Find<Button>(page, "Image5_HDD2");
  ASSERT_NE(hdd1, nullptr);
  ASSERT_NE(hdd2, nullptr);
  page.SetShownDrive(1);
  EXPECT_THAT(Current({hdd1, hdd2}), ElementsAre(1U));
  page.SetShownDrive(0);
  EXPECT_THAT(Current({hdd1, hdd2}), ElementsAre(0U));

  QSignalSpy clicked(&page, &SmartPage::DriveClicked);
  hdd2->click();
  hdd1->click();
  ASSERT_EQ(clicked.size(), 2);
  EXPECT_EQ(clicked[0][0].toUInt(), 1U);
  EXPECT_EQ(clicked[1][0].toUInt(), 0U);
}

TEST(SmartPageTest, LaidOutCleanlyWithAFullTable) {
  Place place;
  SmartPage page(place.host());
  page.SetShownDrive(0);
  page.SetStatusLine("Updates after 60 seconds.");
  page.SetTitle(" SMART - HDD1 : WDC WD20EARS-00MVWB0 ");
  page.SetVerdict(" Warning ", QColor(0x80, 0, 0));
  page.SetSectorSupport(" 4K Sector supported : Unknown ", "Code=0xFFFF");
  // Wide texts in every column, and 30 attributes to bring the scroll bar. Longer names than
  // this one run out of column 0; selecting the cell shows them in full.
  std::vector<SmartPage::Row> rows;
  for (int row = 0; row < 30; ++row) {
    const QColor colour = row % 3 == 0 ? Qt::white : row % 3 == 1 ? Qt::yellow : Qt::red;
    rows.push_back(
        {{"05-Reallocated sector count", "253", "253", "253", "000000000000", "Alert"}, colour});
  }
  page.SetRows(rows);
  page.ShowTable(true);
  place.Show();
  EXPECT_THAT(LayoutFaults(page), IsEmpty());
  SavePicture(page, "smart");
}

TEST(SmartPageTest, RowsArePaintedInTheirColourAndTheFirstShowingSelectsTheCorner) {
  Place place;
  SmartPage page(place.host());
  auto* table = Find<QTableWidget>(page, "StringGrid3");
  place.Show();
  EXPECT_TRUE(table->isHidden());
  QSignalSpy selected(&page, &SmartPage::CellSelected);
  page.SetRows(
      {{{"05-Reallocated sector count", "100", "100", "36", "000000000003", "Alert"}, Qt::yellow},
       {{"07-Seek error rate", "29", "29", "30", "000000000000", "Error"}, Qt::red},
       {{"09-Power-on hours count", "99", "99", "0", "0000000004D2", "Good"}, Qt::white}});
  page.ShowTable(true);
  EXPECT_EQ(table->currentRow(), 0);
  EXPECT_EQ(table->currentColumn(), 0);
  ASSERT_EQ(selected.size(), 1);
  EXPECT_EQ(selected[0][0].toInt(), 0);

  // The cell's whole area carries the row's colour, selected or not; away from the text.
  const QImage picture = table->viewport()->grab().toImage();
  auto colour_at = [&](int row, int column) {
    const QRect cell = table->visualRect(table->model()->index(row, column));
    return picture.pixelColor(cell.right() - 2, cell.bottom() - 1);
  };
  EXPECT_EQ(colour_at(0, 0), QColor(Qt::yellow));
  EXPECT_EQ(colour_at(1, 3), QColor(Qt::red));
  EXPECT_EQ(colour_at(2, 5), QColor(Qt::white));

  // Shown again while it shows: the user's place is kept.
  table->setCurrentCell(2, 4);
  page.ShowTable(true);
  EXPECT_EQ(table->currentRow(), 2);
  // Hidden, then shown: the corner again.
  page.ShowTable(false);
  page.ShowTable(true);
  EXPECT_EQ(table->currentRow(), 0);
  EXPECT_EQ(table->currentColumn(), 0);
}

// --- About page --------------------------------------------------------------------------------

TEST(AboutPageTest, ShowsTheProductLineAndTheVersion) {
  Place place;
  AboutPage page(place.host());
  EXPECT_EQ(Find<QLabel>(page, "AboutProductLine")->text(), "RAID Management Software");
  page.SetVersionText("v0.50.11-4");
  EXPECT_EQ(Find<QLabel>(page, "AboutVersion")->text(), "v0.50.11-4");
  place.Show();
  EXPECT_THAT(LayoutFaults(page), IsEmpty());
  SavePicture(page, "about");
}

// --- All pages ---------------------------------------------------------------------------------

TEST(PagesTest, EveryPictureButtonHasBothPicturesAtItsSize) {
  Place place;
  const UpgradePage upgrade(place.host());
  const EmailPage email(place.host());
  const SmartPage smart(place.host());
  EXPECT_THAT(PictureFaults(upgrade), IsEmpty());
  EXPECT_THAT(PictureFaults(email), IsEmpty());
  EXPECT_THAT(PictureFaults(smart), IsEmpty());
}

}  // namespace
}  // namespace raid
