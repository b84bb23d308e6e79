// SPDX-License-Identifier: GPL-2.0-or-later
#include "common/exception_box.h"

#include <string>

namespace raid {

MessageBoxRequest ExceptionBox(const std::exception_ptr& exception) {
  std::string text;
  try {
    if (exception) std::rethrow_exception(exception);
  } catch (const std::exception& thrown) {
    text = thrown.what();
  } catch (...) {  // no text to show
  }
  return {kErrorCaption, text, MessageIcon::kError};
}

std::optional<MessageBoxRequest> RunCatching(const std::function<void()>& work) {
  try {
    work();
  } catch (...) {
    return ExceptionBox(std::current_exception());
  }
  return std::nullopt;
}

}  // namespace raid
