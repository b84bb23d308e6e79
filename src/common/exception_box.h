// SPDX-License-Identifier: GPL-2.0-or-later
// An exception that reaches the top of a window handler or of a worker's work item ends that
// piece of work, not the program: it is shown to the user in a message box with its own text
// and the program goes on. One place for what that box says.
#pragma once

#include <exception>
#include <functional>
#include <optional>

#include "common/ui_sink.h"

namespace raid {

// The box for `exception`: its what() text; an exception that is no std::exception carries no
// text, and its box has none.
MessageBoxRequest ExceptionBox(const std::exception_ptr& exception);

// Runs `work` and returns the box of the exception it threw, or none when it returned.
std::optional<MessageBoxRequest> RunCatching(const std::function<void()>& work);

}  // namespace raid
