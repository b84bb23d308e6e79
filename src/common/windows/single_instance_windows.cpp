// SPDX-License-Identifier: GPL-2.0-or-later
// The named mutex "QV_GUI", owned from the start.
#include <windows.h>

#include "common/single_instance.h"

namespace raid {
namespace {

class NamedMutex : public SingleInstance {
 public:
  explicit NamedMutex(HANDLE handle) : handle_(handle) {}
  ~NamedMutex() override {
    if (handle_ != nullptr) {
      ReleaseMutex(handle_);
      CloseHandle(handle_);
    }
  }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::Acquire() {
  HANDLE handle = CreateMutexA(nullptr, TRUE, "QV_GUI");
  if (handle == nullptr) return std::make_unique<NamedMutex>(nullptr);
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(handle);
    return nullptr;
  }
  return std::make_unique<NamedMutex>(handle);
}

}  // namespace raid
