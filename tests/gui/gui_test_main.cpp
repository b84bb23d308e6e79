// SPDX-License-Identifier: GPL-2.0-or-later
// One application object for all the window tests, the program's own, on the offscreen platform
// unless told otherwise.
#include <gtest/gtest.h>

#include <QtGlobal>

#include "app/guarded_application.h"
#include "gui/widgets/two_state_image_button.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  raid::GuardedApplication application(argc, argv);
  raid::ui::InitPictures();
  return RUN_ALL_TESTS();
}
