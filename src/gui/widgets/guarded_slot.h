// SPDX-License-Identifier: GPL-2.0-or-later
// A handler connected through Guarded stops its own exception: it is shown in a box over the
// window, never carried up through the toolkit's code that called the handler, which is not made
// to pass one on.
#pragma once

#include <functional>
#include <optional>

#include "common/exception_box.h"
#include "gui/widgets/message_boxes.h"

class QWidget;

namespace raid {

inline void RunGuarded(QWidget* window, const std::function<void()>& work) {
  if (const std::optional<MessageBoxRequest> box = RunCatching(work))
    ui::ShowMessageBox(window, *box);
}

template <typename Owner, typename... Args>
auto Guarded(QWidget* window, Owner* owner, void (Owner::*handler)(Args...)) {
  return [window, owner, handler](Args... args) {
    RunGuarded(window, [&] { (owner->*handler)(args...); });
  };
}

}  // namespace raid
