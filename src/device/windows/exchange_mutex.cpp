// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/windows/exchange_mutex.h"

#include <sddl.h>

#include "common/windows/wide_text.h"

namespace raid {
namespace {

// The window runs elevated and a service as LocalSystem: both must be able to open what the
// other made, so the mutex does not take its maker's default rights.
constexpr wchar_t kSharedRights[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;OW)";

HANDLE CreateShared(const std::wstring& name) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kSharedRights, SDDL_REVISION_1,
                                                           &descriptor, nullptr)) {
    attributes.lpSecurityDescriptor = descriptor;
  }
  HANDLE handle = CreateMutexW(&attributes, FALSE, name.c_str());
  if (descriptor != nullptr) LocalFree(descriptor);
  if (handle == nullptr) handle = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str());
  return handle;
}

}  // namespace

ExchangeMutex::ExchangeMutex(const std::string& name)
    : handle_(CreateShared(L"Global\\raidgui-exchange-" + Widen(name))) {}

ExchangeMutex::~ExchangeMutex() {
  if (held_) ReleaseMutex(handle_);
  if (handle_ != nullptr) CloseHandle(handle_);
}

bool ExchangeMutex::Acquire(std::uint32_t wait_ms) {
  if (handle_ == nullptr) return true;
  if (held_) return true;
  const DWORD waited = WaitForSingleObject(handle_, wait_ms);
  held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  return held_;
}

}  // namespace raid
