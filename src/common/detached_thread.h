// SPDX-License-Identifier: GPL-2.0-or-later
// A thread that nobody joins, for work the caller may stop waiting for (a stuck WMI query, a
// slow file). The work owns everything it touches.
//
// Not std::thread::detach on Windows: MinGW's winpthreads, detaching a thread that has not yet
// begun, now and then starts it with its state pointer null (seen under load, under Wine, in one
// run in three of a program that starts and detaches 4,000 threads). The Windows form starts the
// thread with _beginthreadex and closes its handle, which is the system's own way to let go.
#pragma once

#include <memory>
#include <utility>

namespace raid {

namespace detail {
// Runs run(state) on a new thread that nobody joins. False when no thread could be started; the
// caller still owns `state` then.
bool StartDetachedThread(void (*run)(void* state) noexcept, void* state);
}  // namespace detail

// Runs `work` on a thread of its own. False when no thread could be had: `work` was destroyed
// without running, so whatever it owned (a promise, say) is released as if it had given up.
template <typename Work>
bool RunDetached(Work work) {
  auto owned = std::make_unique<Work>(std::move(work));
  const bool started = detail::StartDetachedThread(
      [](void* state) noexcept {
        const std::unique_ptr<Work> mine(static_cast<Work*>(state));
        (*mine)();
      },
      owned.get());
  if (started) owned.release();
  return started;
}

}  // namespace raid
