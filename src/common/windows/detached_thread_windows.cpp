// SPDX-License-Identifier: GPL-2.0-or-later
#include <process.h>
#include <windows.h>

#include <memory>

#include "common/detached_thread.h"

namespace raid::detail {
namespace {

struct Start {
  void (*run)(void* state) noexcept;
  void* state;
};

unsigned __stdcall ThreadMain(void* argument) {
  const std::unique_ptr<Start> start(static_cast<Start*>(argument));
  start->run(start->state);
  return 0;
}

}  // namespace

bool StartDetachedThread(void (*run)(void* state) noexcept, void* state) {
  auto start = std::make_unique<Start>(Start{run, state});
  // _beginthreadex rather than CreateThread, so the C runtime sets the thread up for itself.
  const uintptr_t handle = _beginthreadex(nullptr, 0, &ThreadMain, start.get(), 0, nullptr);
  if (handle == 0) return false;
  start.release();
  CloseHandle(reinterpret_cast<HANDLE>(handle));
  return true;
}

}  // namespace raid::detail
