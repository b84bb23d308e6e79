// SPDX-License-Identifier: GPL-2.0-or-later
// The logind inhibitor lock against a private bus with a stand-in logind on it: what is asked
// for, that the lock lasts exactly as long as the hold, and what happens without logind.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "power/sleep_inhibitor.h"

namespace raid {
namespace {

// A dbus-daemon of its own, named as the system bus for the duration of a test.
class PrivateBus {
 public:
  PrivateBus() {
    FILE* out = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>&1", "r");
    if (out == nullptr) return;
    char line[512];
    if (std::fgets(line, sizeof line, out) != nullptr) address_ = Trim(line);
    if (std::fgets(line, sizeof line, out) != nullptr) pid_ = std::atoi(line);
    ::pclose(out);
    if (!Running()) return;
    const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (old != nullptr) saved_ = old;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
  }
  ~PrivateBus() {
    if (saved_) {
      ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved_->c_str(), 1);
    } else {
      ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    if (pid_ > 0) ::kill(pid_, SIGTERM);
  }
  bool Running() const { return pid_ > 0 && address_.rfind("unix:", 0) == 0; }
  const std::string& address() const { return address_; }

 private:
  static std::string Trim(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
      text.pop_back();
    return text;
  }
  std::string address_;
  int pid_ = 0;
  std::optional<std::string> saved_;
};

// Owns org.freedesktop.login1 on the bus and answers Inhibit as logind does: with the write end
// of a pipe, whose read end tells when the caller let go.
class FakeLogind {
 public:
  explicit FakeLogind(const std::string& address) {
    sd_bus_new(&bus_);
    sd_bus_set_address(bus_, address.c_str());
    sd_bus_set_bus_client(bus_, 1);
    ok_ = sd_bus_start(bus_) >= 0 &&
          sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/login1",
                                   "org.freedesktop.login1.Manager", kVtable, this) >= 0 &&
          sd_bus_request_name(bus_, "org.freedesktop.login1", 0) >= 0;
    if (ok_) serve_ = std::thread([this] { Serve(); });
  }
  ~FakeLogind() {
    stop_ = true;
    if (serve_.joinable()) serve_.join();
    sd_bus_flush_close_unref(bus_);
    for (int fd : read_ends_)
      ::close(fd);
  }
  bool ok() const { return ok_; }

  std::vector<std::string> LastArguments() {
    std::lock_guard lock(mutex_);
    return arguments_;
  }
  // Whether the caller still holds the lock it was given last, after waiting up to `ms` for it
  // to let go. The reply that carried the descriptor may hold a copy on this side for a moment
  // after the caller has it.
  bool LockHeld(int ms = 0) {
    std::lock_guard lock(mutex_);
    if (read_ends_.empty()) return false;
    pollfd p{read_ends_.back(), POLLIN, 0};
    return ::poll(&p, 1, ms) == 0;
  }

 private:
  static int Inhibit(sd_bus_message* call, void* self_pointer, sd_bus_error* /*error*/) {
    auto* self = static_cast<FakeLogind*>(self_pointer);
    const char* what = nullptr;
    const char* who = nullptr;
    const char* why = nullptr;
    const char* mode = nullptr;
    int code = sd_bus_message_read(call, "ssss", &what, &who, &why, &mode);
    if (code < 0) return code;
    int ends[2];
    if (::pipe(ends) != 0) return -errno;
    {
      std::lock_guard lock(self->mutex_);
      self->arguments_ = {what, who, why, mode};
      self->read_ends_.push_back(ends[0]);
    }
    code = sd_bus_reply_method_return(call, "h", ends[1]);
    ::close(ends[1]);  // the reply carries its own copy
    return code;
  }

  void Serve() {
    while (!stop_) {
      while (sd_bus_process(bus_, nullptr) > 0) {
      }
      sd_bus_wait(bus_, 20'000);
    }
  }

  static constexpr sd_bus_vtable kVtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("Inhibit", "ssss", "h", &FakeLogind::Inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_VTABLE_END};

  sd_bus* bus_ = nullptr;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::thread serve_;
  std::mutex mutex_;
  std::vector<std::string> arguments_;
  std::vector<int> read_ends_;
};

class LogindInhibitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bus_.Running()) GTEST_SKIP() << "dbus-daemon cannot be started here";
  }
  PrivateBus bus_;
};

TEST_F(LogindInhibitorTest, BlocksShutdownAndSleepExactlyWhileHeld) {
  FakeLogind logind(bus_.address());
  ASSERT_TRUE(logind.ok());
  std::string why_not;
  std::unique_ptr<SleepInhibitor> hold = InhibitSleep("Controller firmware upgrade", why_not);
  ASSERT_NE(hold, nullptr) << why_not;
  EXPECT_EQ(logind.LastArguments(),
            (std::vector<std::string>{"shutdown:sleep", "raidgui", "Controller firmware upgrade",
                                      "block"}));
  EXPECT_TRUE(logind.LockHeld(200));  // no hang-up for a while
  hold.reset();
  EXPECT_FALSE(logind.LockHeld(5000));
}

TEST_F(LogindInhibitorTest, SaysWhyWhenLogindIsNotThere) {
  std::string why_not;
  EXPECT_EQ(InhibitSleep("upgrade", why_not), nullptr);
  EXPECT_NE(why_not.find("logind"), std::string::npos) << why_not;
}

TEST(LogindInhibitorWithoutBusTest, SaysWhyWhenThereIsNoBus) {
  const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/raidgui-test-bus", 1);
  std::string why_not;
  EXPECT_EQ(InhibitSleep("upgrade", why_not), nullptr);
  EXPECT_FALSE(why_not.empty());
  if (old != nullptr) {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1);
  } else {
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  }
}

}  // namespace
}  // namespace raid
