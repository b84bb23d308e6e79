// SPDX-License-Identifier: GPL-2.0-or-later
// The window's answer when Windows asks whether the session may end (WM_QUERYENDSESSION).
#pragma once

#include <windows.h>

#include <functional>
#include <optional>

namespace raid {

// The message's result: TRUE lets the log-off or shut-down go on, FALSE holds it while
// `may_end` says no. Empty for any other message, which Qt answers as usual; `may_end` is asked
// for this one only, since a refusal shows the user why.
std::optional<LRESULT> AnswerSessionEnd(UINT message, const std::function<bool()>& may_end);

}  // namespace raid
