// SPDX-License-Identifier: GPL-2.0-or-later
#include <system_error>
#include <thread>

#include "common/detached_thread.h"

namespace raid::detail {

bool StartDetachedThread(void (*run)(void* state) noexcept, void* state) {
  try {
    std::thread([run, state] { run(state); }).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

}  // namespace raid::detail
