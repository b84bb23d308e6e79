// SPDX-License-Identifier: GPL-2.0-or-later
// A power request: unlike SetThreadExecutionState it belongs to a handle, not to the thread that
// made it, so the upgrade may run on any thread.
#include <windows.h>

#include <string>

#include "common/windows/wide_text.h"
#include "power/sleep_inhibitor.h"

namespace raid {
namespace {

class PowerRequest : public SleepInhibitor {
 public:
  explicit PowerRequest(HANDLE handle) : handle_(handle) {}
  ~PowerRequest() override {
    PowerClearRequest(handle_, PowerRequestSystemRequired);
    CloseHandle(handle_);
  }
  PowerRequest(const PowerRequest&) = delete;
  PowerRequest& operator=(const PowerRequest&) = delete;

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<SleepInhibitor> InhibitSleep(const std::string& why, std::string& why_not) {
  std::wstring reason = Widen(why);
  REASON_CONTEXT context{};
  context.Version = POWER_REQUEST_CONTEXT_VERSION;
  context.Flags = POWER_REQUEST_CONTEXT_SIMPLE_STRING;
  context.Reason.SimpleReasonString = reason.data();
  HANDLE handle = PowerCreateRequest(&context);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
    why_not = "no power request (error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  if (!PowerSetRequest(handle, PowerRequestSystemRequired)) {
    why_not = "power request refused (error " + std::to_string(GetLastError()) + ")";
    CloseHandle(handle);
    return nullptr;
  }
  return std::make_unique<PowerRequest>(handle);
}

}  // namespace raid
