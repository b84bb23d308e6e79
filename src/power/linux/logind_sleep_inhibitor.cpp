// SPDX-License-Identifier: GPL-2.0-or-later
// The logind inhibitor lock: Manager.Inhibit hands back a file descriptor, and the lock lasts
// until that descriptor is closed, also when the program dies.
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "power/sleep_inhibitor.h"

namespace raid {
namespace {

constexpr const char* kLogindService = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";
constexpr const char* kInhibitWhat = "shutdown:sleep";
constexpr const char* kInhibitWho = "raidgui";
constexpr const char* kInhibitMode = "block";
// logind answers at once; a bus that does not must not hold the upgrade up for long.
constexpr std::uint64_t kCallTimeoutUs = 5'000'000;

class LogindLock : public SleepInhibitor {
 public:
  explicit LogindLock(int fd) : fd_(fd) {}
  ~LogindLock() override { ::close(fd_); }
  LogindLock(const LogindLock&) = delete;
  LogindLock& operator=(const LogindLock&) = delete;

 private:
  int fd_;
};

std::string ErrorText(const sd_bus_error& error, int code) {
  if (sd_bus_error_is_set(&error) && error.message != nullptr) return error.message;
  return std::strerror(-code);
}

}  // namespace

std::unique_ptr<SleepInhibitor> InhibitSleep(const std::string& why, std::string& why_not) {
  sd_bus* bus = nullptr;
  int code = sd_bus_open_system(&bus);
  if (code < 0) {
    why_not = std::string("no system bus: ") + std::strerror(-code);
    return nullptr;
  }
  sd_bus_message* call = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error error{};  // SD_BUS_ERROR_NULL, without its C compound literal
  std::unique_ptr<SleepInhibitor> lock;

  code = sd_bus_message_new_method_call(bus, &call, kLogindService, kLogindPath, kLogindManager,
                                        "Inhibit");
  if (code >= 0) {
    code =
        sd_bus_message_append(call, "ssss", kInhibitWhat, kInhibitWho, why.c_str(), kInhibitMode);
  }
  if (code >= 0) code = sd_bus_call(bus, call, kCallTimeoutUs, &error, &reply);
  int fd = -1;
  if (code >= 0) code = sd_bus_message_read(reply, "h", &fd);
  if (code >= 0) {
    // The reply owns its descriptor; the lock keeps a copy of its own.
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (own < 0) {
      why_not = std::string("cannot keep the lock: ") + std::strerror(errno);
    } else {
      lock = std::make_unique<LogindLock>(own);
    }
  } else {
    why_not = "logind refused or is not there: " + ErrorText(error, code);
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(call);
  sd_bus_flush_close_unref(bus);
  return lock;
}

}  // namespace raid
