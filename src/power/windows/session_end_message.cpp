// SPDX-License-Identifier: GPL-2.0-or-later
#include "power/windows/session_end_message.h"

namespace raid {

std::optional<LRESULT> AnswerSessionEnd(UINT message, const std::function<bool()>& may_end) {
  if (message != WM_QUERYENDSESSION) return std::nullopt;
  return may_end() ? TRUE : FALSE;
}

}  // namespace raid
