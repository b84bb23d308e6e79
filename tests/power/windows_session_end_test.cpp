// SPDX-License-Identifier: GPL-2.0-or-later
// The window's answer to Windows asking whether the session may end.
#include <windows.h>
// After windows.h:
#include <gtest/gtest.h>

#include "common/shared_state.h"
#include "power/session_end.h"
#include "power/windows/session_end_message.h"

namespace raid {
namespace {

TEST(SessionEnd, HeldWhileTheFlashIsRewrittenAndLetGoOtherwise) {
  SharedState state;
  const auto may_end = [&state] { return SessionMayEnd(state); };
  EXPECT_EQ(AnswerSessionEnd(WM_QUERYENDSESSION, may_end), TRUE);
  state.upgrade.in_progress.store(true);
  EXPECT_EQ(AnswerSessionEnd(WM_QUERYENDSESSION, may_end), FALSE);
  state.upgrade.in_progress.store(false);
  EXPECT_EQ(AnswerSessionEnd(WM_QUERYENDSESSION, may_end), TRUE);
}

TEST(SessionEnd, OtherMessagesAreLeftToQtWithoutAskingTheWindow) {
  int asked = 0;
  const auto may_end = [&asked] {
    ++asked;
    return false;
  };
  for (const UINT message : {UINT{WM_ENDSESSION}, UINT{WM_DEVICECHANGE}, UINT{WM_CLOSE}}) {
    EXPECT_FALSE(AnswerSessionEnd(message, may_end).has_value()) << message;
  }
  EXPECT_EQ(asked, 0);
}

}  // namespace
}  // namespace raid
