// SPDX-License-Identifier: GPL-2.0-or-later
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cwctype>
#include <string>
#include <vector>

#include "cli/event_hook.h"
#include "common/windows/wide_text.h"

namespace raid::cli {
namespace {

// The system's text for an error code, without its line end.
std::string ErrorText(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length > 0 && buffer != nullptr ? std::wstring(buffer, length) : L"";
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (std::iswspace(text.back()) || text.back() == L'.'))
    text.pop_back();
  if (text.empty()) return "error " + std::to_string(error);
  return Narrow(text);
}

class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

bool SameName(const std::wstring& a, const std::string& b) {
  const std::wstring wide = Widen(b);
  return a.size() == wide.size() &&
         std::equal(a.begin(), a.end(), wide.begin(),
                    [](wchar_t x, wchar_t y) { return std::towupper(x) == std::towupper(y); });
}

// raidctl's environment block without the variables `added` sets (names ignore case here),
// then those.
std::vector<wchar_t> EnvironmentBlock(const HookEnvironment& added) {
  std::vector<wchar_t> block;
  if (wchar_t* strings = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
      const std::wstring text = entry;
      // "=C:=C:\dir" entries begin with '='.
      const std::wstring name = text.substr(0, text.find(L'=', 1));
      const bool replaced = std::any_of(added.begin(), added.end(), [&](const auto& variable) {
        return SameName(name, variable.first);
      });
      if (!replaced) block.insert(block.end(), text.c_str(), text.c_str() + text.size() + 1);
    }
    FreeEnvironmentStringsW(strings);
  }
  for (const auto& [name, value] : added) {
    const std::wstring text = Widen(name) + L"=" + Widen(value);
    block.insert(block.end(), text.c_str(), text.c_str() + text.size() + 1);
  }
  block.push_back(L'\0');
  return block;
}

HookOutcome NotStarted(DWORD error) {
  HookOutcome outcome;
  outcome.kind = HookOutcome::Kind::kNotStarted;
  outcome.why = ErrorText(error);
  return outcome;
}

}  // namespace

std::optional<std::string> FindHookProgram(const std::string& program, std::string& error) {
  const std::wstring name = Widen(program);
  std::wstring found = name;
  if (name.find_first_of(L"\\/:") == std::wstring::npos) {
    // A bare name: the folders of PATH, as the command prompt looks, ".exe" when it has none.
    std::wstring buffer(MAX_PATH, L'\0');
    const DWORD length = SearchPathW(nullptr, name.c_str(), L".exe",
                                     static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0 || length >= buffer.size()) {
      error = program + ": no program of that name on PATH";
      return std::nullopt;
    }
    buffer.resize(length);
    found = buffer;
  }
  const DWORD attributes = GetFileAttributesW(found.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = program + ": " + ErrorText(GetLastError());
    return std::nullopt;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    error = program + ": not a regular file";
    return std::nullopt;
  }
  return Narrow(found);
}

HookOutcome RunHookProgram(const std::string& program, const HookEnvironment& added,
                           std::chrono::milliseconds limit, const std::atomic<bool>& abandon) {
  const std::wstring application = Widen(program);
  std::wstring command_line = L"\"" + application + L"\"";
  std::vector<wchar_t> environment = EnvironmentBlock(added);

  // Nothing to read; what it prints goes with our own messages, never into our output (which may
  // be JSON). Only these two handles are inherited.
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const Handle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inheritable, OPEN_EXISTING, 0, nullptr));
  HANDLE output_handle = nullptr;
  const HANDLE ours = GetStdHandle(STD_ERROR_HANDLE);
  if (ours == nullptr || ours == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), ours, GetCurrentProcess(), &output_handle, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    output_handle = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inheritable, OPEN_EXISTING, 0, nullptr);
  }
  const Handle output(output_handle);
  if (!input.valid() || !output.valid()) return NotStarted(GetLastError());

  // Without the list (an older system) every inheritable handle of ours would be inherited.
  SIZE_T list_size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
  std::vector<unsigned char> list_memory(list_size);
  auto* const list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_memory.data());
  const bool initialized =
      list_size > 0 && InitializeProcThreadAttributeList(list, 1, 0, &list_size);
  HANDLE inherited[] = {input.get(), output.get()};
  const bool listed =
      initialized && UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                               inherited, sizeof inherited, nullptr, nullptr);

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input.get();
  startup.StartupInfo.hStdOutput = output.get();
  startup.StartupInfo.hStdError = output.get();
  startup.lpAttributeList = listed ? list : nullptr;

  // A job holds whatever it starts, so that the limit ends all of it. It starts suspended until
  // it is in the job; a group of its own leaves a Ctrl-C meant for raidctl to us.
  const Handle job(CreateJobObjectW(nullptr, nullptr));
  PROCESS_INFORMATION process{};
  const DWORD flags = CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP |
                      (listed ? EXTENDED_STARTUPINFO_PRESENT : 0);
  const BOOL created =
      CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE, flags,
                     environment.data(), nullptr, &startup.StartupInfo, &process);
  const DWORD create_error = GetLastError();
  if (initialized) DeleteProcThreadAttributeList(list);
  if (!created) return NotStarted(create_error);
  const Handle process_handle(process.hProcess);
  const Handle thread(process.hThread);
  // Without the job (raidctl's own job may forbid it) the limit still ends the program itself.
  const bool in_job = job.valid() && AssignProcessToJobObject(job.get(), process.hProcess);
  ResumeThread(process.hThread);

  // Looked at in slices, so that a stopping monitor ends it at once.
  constexpr DWORD kSliceMs = 20;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  HookOutcome outcome;
  DWORD waited = WAIT_TIMEOUT;
  while (waited == WAIT_TIMEOUT && !abandon.load()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    waited = WaitForSingleObject(
        process.hProcess, static_cast<DWORD>(std::min<std::int64_t>(left.count(), kSliceMs)));
  }
  if (waited != WAIT_OBJECT_0) {
    const DWORD wait_error = GetLastError();
    if (in_job) {
      TerminateJobObject(job.get(), 1);
    } else {
      TerminateProcess(process.hProcess, 1);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    if (waited == WAIT_TIMEOUT) {
      outcome.kind = abandon.load() ? HookOutcome::Kind::kAbandoned : HookOutcome::Kind::kTimedOut;
    } else {
      outcome.kind = HookOutcome::Kind::kLost;
      outcome.why = ErrorText(wait_error);
    }
    return outcome;
  }
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(process.hProcess, &exit_code)) {
    outcome.kind = HookOutcome::Kind::kLost;
    outcome.why = ErrorText(GetLastError());
    return outcome;
  }
  outcome.code = exit_code;
  return outcome;
}

}  // namespace raid::cli
