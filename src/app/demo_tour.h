// SPDX-License-Identifier: GPL-2.0-or-later
// The demo without a person: follows the scenario's story in the window and saves a picture of
// every page and of the event-log viewer at its key moments (both drives normal, one pulled,
// the rebuild under way, normal again), or at chosen story times for any scenario, then prints
// the log of the tour's day (and of the day before, when the story went past midnight) and ends
// the program. Beside each picture a text file lists the texts the window shows.
#pragma once

#include <QObject>
#include <QTimer>
#include <filesystem>
#include <string>
#include <vector>

namespace raid {

class TForm1;

class DemoTour : public QObject {
  Q_OBJECT

 public:
  // Message boxes are printed on stderr and answered, from now on. With `at_seconds` (story
  // seconds from now, ascending) the pictures are taken at those times instead of the moments.
  DemoTour(TForm1& form, std::filesystem::path folder, std::vector<double> at_seconds = {});

  // 0 when every moment was seen and saved.
  int ExitCode() const { return exit_code_; }

 private:
  void Look();
  void LookAtTimes();
  bool SmartReadDone() const;
  void SaveAllPages(const std::string& moment);
  void SaveStatusAndViewer(const std::string& moment, bool status_saved = false);
  bool Save(QWidget& widget, const std::string& name);
  void Finish(int exit_code, const std::string& why);

  TForm1& form_;
  std::filesystem::path folder_;
  QTimer look_;
  std::vector<double> at_seconds_;
  int step_ = 0;
  std::uint64_t started_ms_ = 0;
  std::string first_day_file_;  // the daily log's file when the story began
  std::vector<std::string> saved_;
  int exit_code_ = 1;
};

}  // namespace raid
