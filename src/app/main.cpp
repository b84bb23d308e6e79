// SPDX-License-Identifier: GPL-2.0-or-later
// raidgui: the window of the enclosure monitor.
//   raidgui                      the real disks of this machine
//   raidgui --simulate FILE      a simulated host from a scenario file (the demo)
//   raidgui --simulate FILE --screenshots DIR
//                                the demo's story on its own, pictures of every page and of the
//                                viewer at its key moments in DIR, then the day's log on stdout
//   ... --screenshots DIR --at SECONDS[,SECONDS...]
//                                the same for any scenario, at those story times
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QSessionManager>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "app/demo_tour.h"
#include "app/guarded_application.h"
#include "app/large_blocks.h"
#include "app/native_window_events.h"
#include "app/tform1.h"
#include "common/decimal_text.h"
#include "common/project_version.h"
#include "common/single_instance.h"
#include "common/user_locale.h"
#include "events/event_log.h"
#include "gui/widgets/two_state_image_button.h"
#include "monitor/host_setup.h"

namespace {

constexpr double kLongestStorySeconds = 86400;
// The fastest story a tour can take its pictures in.
constexpr double kFastestTour = 100;

// A demo keeps its log in a folder of the user's, so that it needs no rights and never mixes
// with the real log.
std::filesystem::path DemoLogFolder() {
  const QString state = qEnvironmentVariable("XDG_STATE_HOME");
  const QString base = state.isEmpty() ? QDir::homePath() + "/.local/state" : state;
  return std::filesystem::path(base.toStdString()) / "raidgui" / "demo";
}

// Nor does it mail a story that never happened with the user's settings: it keeps its own
// (settings.toml in RAIDGUI_CONFIG_DIR, which the Linux store reads; the Windows registry key
// has no such place).
std::filesystem::path DemoConfigFolder() {
  const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  const QString base = config.isEmpty() ? QDir::homePath() + "/.config" : config;
  return std::filesystem::path(base.toStdString()) / "raidgui" / "demo";
}

}  // namespace

int main(int argc, char** argv) {
  // Before Qt starts: a package tool or a script asks for the version where there is no display.
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("raidgui %s\n", raid::kProjectVersion);
      return 0;
    }
  }
  raid::GiveLargeBlocksTheirOwnPages();
  raid::ApplyUserLocale();
  raid::GuardedApplication application(argc, argv);
  QApplication::setApplicationName(QString());
  raid::ui::InitPictures();

  QCommandLineParser parser;
  parser.setApplicationDescription("Monitor and manager of two-drive USB RAID enclosures");
  parser.addHelpOption();
  const QCommandLineOption simulate("simulate", "Run on the simulated host of a scenario FILE.",
                                    "FILE");
  const QCommandLineOption speed(
      "speed", "With --simulate: run the story N times faster (N from 0.01 to 1000).", "N", "1");
  const QCommandLineOption screenshots(
      "screenshots",
      "With --simulate: tell the story without a person, save pictures in DIR (--speed up to "
      "100: the pictures take real time).",
      "DIR");
  const QCommandLineOption at(
      "at",
      "With --screenshots: take the pictures at these story times instead of the demo's moments "
      "(seconds from the start, comma-separated, each up to 86400).",
      "SECONDS");
  // Answered before the application exists (above); listed here for --help.
  const QCommandLineOption version("version", "Print the program's name and version.");
  parser.addOptions({simulate, speed, screenshots, at, version});
  parser.process(application);

  std::vector<double> at_seconds;
  if (parser.isSet(at)) {
    for (const QString& item : parser.value(at).split(',')) {
      const std::optional<double> seconds =
          raid::ParseNumberInRange(item.trimmed().toStdString(), 0, kLongestStorySeconds);
      if (!seconds) {
        std::fprintf(stderr, "raidgui: --at needs story seconds from 0 to %.0f, comma-separated\n",
                     kLongestStorySeconds);
        return 2;
      }
      at_seconds.push_back(*seconds);
    }
    std::sort(at_seconds.begin(), at_seconds.end());
    if (!parser.isSet(screenshots)) {
      std::fprintf(stderr, "raidgui: --at only applies to --screenshots\n");
      return 2;
    }
  }

  // Before anything is shown: a second window ends at once, silently. The demo's unattended
  // tour is no window of the user's and may run beside one.
  std::unique_ptr<raid::SingleInstance> instance;
  if (!parser.isSet(screenshots)) {
    instance = raid::SingleInstance::Acquire();
    if (!instance) return 0;
  }

  raid::HostOptions host_options;
  raid::WindowOptions window_options;
  window_options.log_folder = raid::LogFolder();
  if (parser.isSet(simulate)) {
    host_options.scenario = parser.value(simulate).toStdString();
    const std::optional<double> factor =
        raid::ParseNumberInRange(parser.value(speed).toStdString(), 0.01, 1000);
    if (!factor) {
      std::fprintf(stderr, "raidgui: --speed needs a number from 0.01 to 1000\n");
      return 2;
    }
    // A picture takes real time; faster, the story would pass the moments it is taken at.
    if (parser.isSet(screenshots) && *factor > kFastestTour) {
      std::fprintf(stderr, "raidgui: with --screenshots, --speed goes up to %.0f\n", kFastestTour);
      return 2;
    }
    host_options.time = raid::HostTime::kScaled;
    host_options.speed = *factor;
    window_options.speed = *factor;
    // A simulated host has no kernel behind it: it is recounted.
    window_options.kernel_device_events = false;
    if (std::getenv("RAIDGUI_LOG_DIR") == nullptr) window_options.log_folder = DemoLogFolder();
    if (!qEnvironmentVariableIsSet("RAIDGUI_CONFIG_DIR")) {
      qputenv("RAIDGUI_CONFIG_DIR", QByteArray::fromStdString(DemoConfigFolder().string()));
    }
  } else if (parser.isSet(screenshots) || parser.isSet(speed)) {
    std::fprintf(stderr, "raidgui: --speed and --screenshots only apply to --simulate\n");
    return 2;
  }

  std::string error;
  std::optional<raid::Host> host = raid::CreateHost(host_options, error);
  if (!host) {
    std::fprintf(stderr, "raidgui: %s\n", error.c_str());
    return 2;
  }
  if (!host->trace_problem.empty())
    std::fprintf(stderr, "raidgui: %s\n", host->trace_problem.c_str());

  int exit_code = 0;
  bool workers_stopped = true;
  {
    raid::TForm1 form(*host->disks, *host->clock, window_options);
    raid::InstallNativeWindowEvents(&form, [&form] { return form.QueryEndSession(); });
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &form,
                     [&form](QSessionManager& manager) {
                       if (!form.QueryEndSession()) manager.cancel();
                     });
    std::unique_ptr<raid::DemoTour> tour;
    if (parser.isSet(screenshots)) {
      tour = std::make_unique<raid::DemoTour>(form, parser.value(screenshots).toStdString(),
                                              at_seconds);
    }
    form.show();
    exit_code = application.exec();
    // A tour whose log could not be kept did not show the story it claims to.
    if (tour) exit_code = form.LinesLeftUnsaved() ? 1 : tour->ExitCode();
    workers_stopped = form.WorkersStopped();
    if (!workers_stopped) {
      // A worker is still inside a read that has not timed out: the day's log was saved by
      // every poll already, and waiting for the read helps nobody.
      std::fflush(stdout);
      std::_Exit(exit_code);
    }
  }
  return exit_code;
}
