// SPDX-License-Identifier: GPL-2.0-or-later
// The SMART page in the real window: what the RAID worker read, judged and coloured, per drive,
// with the cell selection and the dump of the sectors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QLabel>
#include <QTableWidget>
#include <QTest>

#include "gui/smart/smart_page.h"
#include "gui/window_test.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

class SmartWindowTest : public testing::WindowTest {
 protected:
  static sim::Scenario EnclosureWithTroubledHdd1() {
    sim::Scenario scenario = OneEnclosure();
    auto& enclosure = std::get<sim::EnclosureSpec>(scenario.drives[1].device);
    enclosure.members[0]->smart_attributes = {
        {.id = 0xC5, .current = 100, .worst = 100, .raw = 1, .threshold = 0},
        {.id = 0x07, .current = 29, .worst = 29, .raw = 0, .threshold = 30}};
    return scenario;
  }
};

const SmartRow* RowOf(const SmartPageView& view, const std::string& prefix) {
  for (const SmartRow& row : view.rows) {
    if (row.cells[0].rfind(prefix, 0) == 0) return &row;
  }
  return nullptr;
}

TEST_F(SmartWindowTest, ShowsEachDrivesVerdictsInColourAndDumpsTheSectors) {
  Open(EnclosureWithTroubledHdd1());
  ASSERT_TRUE(WaitFor([&] { return FirstStatusShown(); }));
  // The new list asks for thresholds and data of both drives; the page shows what was read.
  auto read = [&](unsigned drive) {
    const std::optional<SmartDriveRecord> record = form_->core().smart_store().Snapshot(0, drive);
    return record && SmartRowCount(record->data) > 0;
  };
  ASSERT_TRUE(WaitFor(
      [&] { return form_->core().smart_store().ThresholdsRead() && read(0) && read(1); }, 20));
  form_->Image_SMARTClick();
  ASSERT_TRUE(form_->smart().view().table_shown);

  auto* title = Find<QLabel>("SmartTitle");
  auto* verdict = Find<QLabel>("SmartVerdict");
  auto* table = Find<QTableWidget>("StringGrid3");
  EXPECT_TRUE(title->text().startsWith(" SMART - HDD1 : NORTHWIND")) << title->text().toStdString();
  EXPECT_EQ(verdict->text(), " Error ");
  EXPECT_EQ(verdict->palette().color(QPalette::WindowText), QColor(Qt::red));
  EXPECT_EQ(Find<QLabel>("Smart4K")->text(), " 4K Sector supported : Yes ");
  ASSERT_EQ(table->rowCount(), static_cast<int>(form_->smart().view().rows.size()));

  const SmartRow* pending = RowOf(form_->smart().view(), "C5-");
  const SmartRow* seek = RowOf(form_->smart().view(), "07-");
  ASSERT_NE(pending, nullptr);
  ASSERT_NE(seek, nullptr);
  EXPECT_EQ(pending->cells[5], "Alert");
  EXPECT_EQ(seek->cells[5], "Error");
  const int seek_row = static_cast<int>(seek - form_->smart().view().rows.data());
  EXPECT_EQ(table->item(seek_row, 5)->text(), "Error");
  EXPECT_EQ(table->item(seek_row, 0)->background().color(), QColor(Qt::red));

  // Selecting the raw value shows it in the fifth panel and as the hint.
  table->setCurrentCell(seek_row, 4);
  EXPECT_EQ(Find<QLabel>("Panel4")->text(), "000000000000");
  EXPECT_EQ(table->toolTip(), "000000000000");
  table->setCurrentCell(seek_row, 1);
  EXPECT_TRUE(table->toolTip().isEmpty());

  // HDD2 has nothing to report.
  form_->smart().DriveClick(1);
  EXPECT_TRUE(title->text().startsWith(" SMART - HDD2 : "));
  EXPECT_EQ(verdict->text(), " Good ");
  EXPECT_EQ(verdict->palette().color(QPalette::WindowText), QColor(Qt::black));
  // Not while an upgrade holds the window on its page.
  form_->core().state().upgrade.target_index.store(0);
  form_->smart().DriveClick(0);
  EXPECT_TRUE(title->text().startsWith(" SMART - HDD2 : "));
  form_->core().state().upgrade.target_index.store(kNoUpgradeTarget);

  // The dump: both data sectors in one file, both threshold sectors in the other.
  QTest::mouseDClick(Find<QLabel>("SmartStatusLine"), Qt::LeftButton);
  EXPECT_EQ(fs::file_size(folder_ / "dSMART00.bin"), 1024u);
  EXPECT_EQ(fs::file_size(folder_ / "sSMART00.bin"), 1024u);
  EXPECT_TRUE(Find<QLabel>("Panel4")->text().startsWith("Svae File OK :"));
  EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace raid
