// SPDX-License-Identifier: GPL-2.0-or-later
// The Status page widget on the offscreen platform: its labels show what the model decides, in
// the model's colours, nothing is cut off, and its buttons report clicks.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>

#include "gui/status/status_page.h"
#include "gui/widgets/two_state_image_button.h"
#include "support/status_page_input.h"
#include "support/status_record.h"

namespace raid {
namespace {

using testing::SetDrive;

constexpr const char* kLongModel = "WDC WD20EARX-00PASB0 SERIAL-NUMBER-LIKE1";
constexpr const char* kUnbrokenModel = "HITACHIHDS7230ZZZZ0123456789ABCDEFGHIJKL";

// A mirror rebuilding onto HDD2 at 37 %, with models of 40 characters.
StatusPageInput RebuildingMirror() {
  return testing::RebuildingMirror(kLongModel, kUnbrokenModel);
}

QColor TextColourOf(const QWidget* widget) {
  return widget->palette().color(QPalette::Active, QPalette::WindowText);
}

class StatusPageTest : public ::testing::Test {
 protected:
  StatusPageTest() {
    page_.resize(420, 316);
    page_.show();
  }
  QLabel* Label(const char* name) { return page_.findChild<QLabel*>(QString::fromLatin1(name)); }
  QWidget* Widget(const char* name) { return page_.findChild<QWidget*>(QString::fromLatin1(name)); }
  ui::TwoStateImageButton* Button(const char* name) {
    return page_.findChild<ui::TwoStateImageButton*>(QString::fromLatin1(name));
  }
  // The label's text, as drawn with its font and alignment, stays inside it and the page.
  void ExpectFits(const char* name, const QString& text) {
    QLabel* label = Label(name);
    ASSERT_NE(label, nullptr) << name;
    const QRect room = label->contentsRect();
    const QRect needed =
        QFontMetrics(label->font()).boundingRect(room, int(label->alignment()), text);
    EXPECT_TRUE(room.contains(needed))
        << name << " cuts off \"" << text.toStdString() << "\": needs " << needed.width() << "x"
        << needed.height() << ", has " << room.width() << "x" << room.height();
    const QRect on_page(label->mapTo(&page_, QPoint(0, 0)), label->size());
    EXPECT_TRUE(page_.rect().contains(on_page)) << name << " runs off the page";
  }

  StatusPage page_;
};

TEST_F(StatusPageTest, LabelsShowTheShownEnclosure) {
  ASSERT_EQ(page_.RefreshStatusPage(RebuildingMirror(), true), 0);
  EXPECT_EQ(Label("Label17")->text(), "Mirroring(RAID1)");
  EXPECT_EQ(Label("Label27")->text(), "1863 GB");
  EXPECT_EQ(Label("Label48")->text(), "100126.1");
  EXPECT_EQ(Label("Label25")->text(), "1863 GB\n");
  EXPECT_EQ(Label("Label26")->text(), "1863 GB\n");
  EXPECT_EQ(Label("Label18")->text(), "37%\n>>>>\nRebuilding");
  EXPECT_EQ(Label("Label5")->text(), "2200");
  EXPECT_EQ(Label("Label7")->text(), "41");
  EXPECT_TRUE(Widget("Panel11")->isVisible());
  EXPECT_TRUE(Widget("Image0_Log")->isVisible());
  EXPECT_EQ(TextColourOf(Label("Label5")), QColor(0, 0, 255));
  EXPECT_EQ(TextColourOf(Label("Label7")), QColor(0, 0, 255));
  EXPECT_EQ(TextColourOf(Label("Label25")), QColor(0, 0, 128));

  // A long model is broken over two lines; nothing of it is lost.
  for (const auto& [name, model] :
       {std::pair{"Label51", kLongModel}, {"Label52", kUnbrokenModel}}) {
    QString shown = Label(name)->text();
    EXPECT_EQ(shown.count(QLatin1Char('\n')), 1) << name;
    EXPECT_EQ(shown.remove(QLatin1Char('\n')).remove(QLatin1Char(' ')),
              QString::fromLatin1(model).remove(QLatin1Char(' ')))
        << name;
    ExpectFits(name, Label(name)->text());
  }

  if (const char* picture = std::getenv("RAIDGUI_STATUS_PAGE_PICTURE")) {
    page_.ShowDeviceButtons(0, true);
    page_.ShowDeviceButtons(1, true);
    page_.SetShownDevice(0);
    EXPECT_TRUE(page_.grab().save(QString::fromLocal8Bit(picture)));
  }
}

TEST_F(StatusPageTest, LongestTextsAreNotCutOff) {
  page_.RefreshStatusPage(RebuildingMirror(), true);
  ExpectFits("Label17", "Mirroring(RAID1)");
  ExpectFits("Label17", "Striping(RAID0)");
  ExpectFits("Label27", "3726 GB");
  ExpectFits("Label25", "1863 GB\n");
  ExpectFits("Label26", "1023 MB\n");
  for (const char* state : {"100%\n>>>>\nRebuilding", "100%\n<<<<\nRebuilding",
                            "Single HDD\nPresent", "100%\nHDD2 Scan"}) {
    ExpectFits("Label18", state);
  }
  ExpectFits("Label5", "65535");
  ExpectFits("Label7", "255");
  for (const char* caption : {"Caption_Mode", "Caption_SystemCapacity", "Caption_FirmwareVersion",
                              "Caption_Fan", "Caption_Rpm", "Caption_Temperature"}) {
    ExpectFits(caption, Label(caption)->text());
  }
}

TEST_F(StatusPageTest, FailedDriveIsRedAndSilenceGreysEveryValue) {
  StatusPageInput input = RebuildingMirror();
  SetDrive(input.record, 1, {kDriveFailed, "SMALL DISK 80G", "S0", 156301488});
  input.record.bytes[status_layout::kSensorFlags] = 0xA5;  // fan and temperature alarms
  page_.RefreshStatusPage(input, false);
  EXPECT_EQ(TextColourOf(Label("Label26")), QColor(255, 0, 0));
  EXPECT_TRUE(Label("Label26")->isEnabled());
  EXPECT_FALSE(Label("Label52")->isEnabled());
  EXPECT_EQ(TextColourOf(Label("Label5")), QColor(255, 0, 0));
  EXPECT_EQ(TextColourOf(Label("Label7")), QColor(255, 0, 0));

  input.record.bytes[status_layout::kSensorFlags] = kSensorPanelHidden;
  page_.RefreshStatusPage(input, false);
  EXPECT_FALSE(Widget("Panel11")->isVisible());

  // A new list keeps the values on the page until the next draw replaces them.
  page_.ForgetShown();
  EXPECT_EQ(Label("Label52")->text(), "SMALL DISK 80G");

  input.no_response = true;
  page_.RefreshStatusPage(input, false);
  EXPECT_EQ(Label("Label18")->text(), "No response");
  EXPECT_EQ(TextColourOf(Label("Label18")), QColor(255, 0, 0));
  for (const char* value :
       {"Label17", "Label27", "Label48", "Label25", "Label26", "Label51", "Label5", "Label7"}) {
    EXPECT_FALSE(Label(value)->isEnabled()) << value;
  }
  input.no_response = false;
  page_.RefreshStatusPage(input, false);
  EXPECT_EQ(TextColourOf(Label("Label18")), QColor(255, 0, 255));
  EXPECT_TRUE(Label("Label25")->isEnabled());
}

TEST_F(StatusPageTest, ButtonsReportClicksAndShowTheChosenDevice) {
  EXPECT_FALSE(Widget("Image0_D1")->isVisible());
  EXPECT_FALSE(Widget("Image0_Log")->isVisible());
  page_.ShowDeviceButtons(0, true);
  page_.ShowDeviceButtons(1, true);
  page_.ShowLogButton(true);
  page_.SetShownDevice(1);
  page_.SetDeviceHints({"TORVANE TR6182 [EF]", "TORVANE TR6182 [/srv]"});
  EXPECT_FALSE(Button("Image0_D1")->isCurrent());
  EXPECT_TRUE(Button("Image0_D2")->isCurrent());
  EXPECT_EQ(Button("Image0_D2")->toolTip(), "TORVANE TR6182 [/srv]");

  QSignalSpy devices(&page_, &StatusPage::DeviceClicked);
  QSignalSpy log(&page_, &StatusPage::LogClicked);
  QTest::mouseClick(Button("Image0_D2"), Qt::LeftButton);
  QTest::mouseClick(Button("Image0_D1"), Qt::LeftButton);
  QTest::mouseClick(Button("Image0_Log"), Qt::LeftButton);
  ASSERT_EQ(devices.count(), 2);
  EXPECT_EQ(devices.at(0).at(0).toUInt(), 1U);
  EXPECT_EQ(devices.at(1).at(0).toUInt(), 0U);
  EXPECT_EQ(log.count(), 1);

  // A refresh without a rebuild leaves the log button the window showed.
  StatusPageInput normal = RebuildingMirror();
  normal.record.bytes[status_layout::kActivity] = 0;
  page_.RefreshStatusPage(normal, true);
  EXPECT_TRUE(Widget("Image0_Log")->isVisible());
  page_.ShowLogButton(false);
  EXPECT_FALSE(Widget("Image0_Log")->isVisible());
}

}  // namespace
}  // namespace raid
