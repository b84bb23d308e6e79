// SPDX-License-Identifier: GPL-2.0-or-later
// One application object for all the window tests, the program's own, on the offscreen platform
// unless told otherwise.
#include <gtest/gtest.h>

#include <QDir>
#include <QtGlobal>

#include "app/guarded_application.h"
#include "gui/widgets/two_state_image_button.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // No window a test makes reads the user's notify.toml and tells its channels a made-up story.
  if (qEnvironmentVariableIsEmpty("RAIDGUI_CONFIG_DIR")) {
    qputenv("RAIDGUI_CONFIG_DIR", QDir::temp().filePath("raidgui-gui-tests-none").toUtf8());
  }
  raid::GuardedApplication application(argc, argv);
  raid::ui::InitPictures();
  return RUN_ALL_TESTS();
}
