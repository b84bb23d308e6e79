// SPDX-License-Identifier: GPL-2.0-or-later
// One application object for all the window tests, the program's own, on the offscreen platform
// unless told otherwise.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/guarded_application.h"
#include "gui/widgets/two_state_image_button.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  raid::GuardedApplication application(argc, argv);
  raid::ui::InitPictures();
  return RUN_ALL_TESTS();
}
