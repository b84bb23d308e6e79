// The SMART page: the member drive chosen with the HDD1 / HDD2 buttons, the countdown line, the
// attribute table under its header grid, and the drive's overall verdict and 4K-sector answer.
// The window decides what is shown; the page shows what it is told.
#pragma once

#include <QWidget>
#include <array>
#include <memory>
#include <string>

namespace Ui {
class SmartPage;
}

namespace raid {

class SmartPage : public QWidget {
  Q_OBJECT

 public:
  // Column widths of the header grid and of the attribute table (StringGrid3).
  static constexpr std::array<int, 6> kColumnWidths = {145, 36, 36, 54, 75, 40};

  explicit SmartPage(QWidget* parent = nullptr);
  ~SmartPage() override;

  // "Updates after 60 seconds." or "Updating...".
  void SetStatusLine(const std::string& text);
  void SetShownDrive(unsigned drive);  // yellow picture on Image5_HDD1 (0) or Image5_HDD2 (1)

 signals:
  void DriveClicked(unsigned drive);

 private:
  std::unique_ptr<Ui::SmartPage> ui_;
};

}  // namespace raid
