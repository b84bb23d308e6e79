// SPDX-License-Identifier: GPL-2.0-or-later
// The SMART page: the member drive chosen with the HDD1 / HDD2 buttons, the countdown line, the
// attribute table under its header grid, and the drive's overall verdict and 4K-sector answer.
// The window decides what is shown; the page shows what it is told.
#pragma once

#include <QColor>
#include <QWidget>
#include <array>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class SmartPage;
}

namespace raid {

class SmartPage : public QWidget {
  Q_OBJECT

 public:
  // Column widths of the header grid and of the attribute table (StringGrid3).
  static constexpr std::array<int, 6> kColumnWidths = {140, 36, 36, 54, 80, 40};

  struct Row {
    std::array<std::string, 6> cells;
    QColor colour;  // the whole row is painted in it
  };

  explicit SmartPage(QWidget* parent = nullptr);
  ~SmartPage() override;

  // "Updates after 60 seconds." or "Updating...".
  void SetStatusLine(const std::string& text);
  void SetShownDrive(unsigned drive);  // yellow picture on Image5_HDD1 (0) or Image5_HDD2 (1)
  void SetTitle(const std::string& text);
  // Hidden: the table goes and nothing is selected. Shown after being hidden: the top-left cell
  // is selected and takes the input focus.
  void ShowTable(bool shown);
  void SetRows(const std::vector<Row>& rows);
  void SetVerdict(const std::string& text, const QColor& colour);
  void SetSectorSupport(const std::string& text, const std::string& hint);
  void SetTableHint(const std::string& hint);

 signals:
  void DriveClicked(unsigned drive);
  void CellSelected(int row, int column);
  void StatusLineDoubleClicked();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::unique_ptr<Ui::SmartPage> ui_;
};

}  // namespace raid
