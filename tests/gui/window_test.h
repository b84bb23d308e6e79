// SPDX-License-Identifier: GPL-2.0-or-later
// The real main window on the offscreen platform, with a simulated host behind it whose clock
// (and the window's timers with it) runs fast: the common ground of the window's tests.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/tform1.h"
#include "gui/status/status_page.h"
#include "gui/widgets/message_boxes.h"
#ifdef _WIN32
#include "support/memory_settings_backend.h"
#else
#include "notify/linux/toml_settings_backend.h"
#endif
#include "sim_host.h"
#include "support/story_time.h"
#include "support/temp_folder.h"
#include "support/thread_recording_disk_system.h"

namespace raid::testing {

namespace fs = std::filesystem;

constexpr double kSpeed = 20.0;  // a 5-second poll every 250 ms

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::AnswerMessageBoxesWith([this](const MessageBoxRequest& request) {
      messages_.push_back(request);
      return QMessageBox::Ok;
    });
  }
  // Whatever a test did, the window thread (this one) never called into the disks: a disk that
  // stops answering would freeze the window.
  void TearDown() override {
    form_.reset();
    ui::AnswerMessageBoxesWith(nullptr);
    if (host_) {
      EXPECT_THAT(host_->recorder().ViolationTexts(), ::testing::IsEmpty());
      EXPECT_THAT(disks_->CallsOn(std::this_thread::get_id()), ::testing::IsEmpty());
    }
  }

  void Open(sim::Scenario scenario) {
    host_ = std::make_unique<sim::SimHost>(std::move(scenario), clock_);
    disks_ = std::make_unique<ThreadRecordingDiskSystem>(*host_);
    WindowOptions options;
    options.log_folder = folder_;
    options.speed = kSpeed;
    options.kernel_device_events = false;
    // Never the user's mail settings (the registry's on Windows) or this host's description.
#ifdef _WIN32
    options.settings_backend = [] { return std::make_unique<testing::MemorySettingsBackend>(); };
#else
    options.settings_backend = [folder = folder_ / "settings"] {
      return MakeTomlSettingsBackend(folder);
    };
#endif
    options.system_info = [] { return std::vector<std::string>(5); };
    if (adjust_options_) adjust_options_(options);
    form_ = std::make_unique<TForm1>(*disks_, clock_, options);
    form_->show();
  }
  // Waits (processing events) until `done` holds, for at most `story_seconds` of clock time.
  bool WaitFor(const std::function<bool()>& done, double story_seconds = 60) {
    return QTest::qWaitFor(done, static_cast<int>(story_seconds * 1000 / kSpeed) + 200);
  }
  QString StateText() {
    return form_->status_page()->findChild<QLabel*>(QStringLiteral("Label18"))->text();
  }
  template <typename T = QWidget>
  T* Find(const char* name) {
    return form_->findChild<T*>(QString::fromLatin1(name));
  }
  bool FirstStatusShown() {
    return !form_->core().state().detection.initial.load();
  }

  static sim::Scenario OneEnclosure() {
    sim::Scenario scenario;
    scenario.drives[0] = sim::DriveSpec(sim::PlainDiskSpec{});
    scenario.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
    scenario.volumes.push_back({"E", DriveType::kFixed, DiskExtent{1, 1048576, 1000000}, true});
    return scenario;
  }

  TempFolder folder_{"raidgui-window-"};
  ScaledClock clock_{kSpeed, StoryNoon()};
  std::unique_ptr<sim::SimHost> host_;
  std::unique_ptr<ThreadRecordingDiskSystem> disks_;  // the window's disks: the host's, watched
  std::unique_ptr<TForm1> form_;
  std::vector<MessageBoxRequest> messages_;
  std::function<void(WindowOptions&)> adjust_options_;  // before the window is made
};

}  // namespace raid::testing
