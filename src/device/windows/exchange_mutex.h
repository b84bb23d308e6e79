// SPDX-License-Identifier: GPL-2.0-or-later
// A machine-wide named mutex that keeps the controller exchanges of several processes with one
// disk apart (a window, raidctl, a monitor run as a service). Each process opens it by the same
// name; whoever holds it exchanges, the others wait.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace raid {

class ExchangeMutex {
 public:
  // `name` tells the disk apart, such as "PhysicalDrive2".
  explicit ExchangeMutex(const std::string& name);
  ~ExchangeMutex();
  ExchangeMutex(const ExchangeMutex&) = delete;
  ExchangeMutex& operator=(const ExchangeMutex&) = delete;

  // True once held, also when its last holder ended without letting go, and when the mutex
  // could not be made at all (nobody else can hold it then either). False when another holder
  // kept it for `wait_ms`. Released by the destructor, which must run on the same thread.
  bool Acquire(std::uint32_t wait_ms);

 private:
  HANDLE handle_ = nullptr;
  bool held_ = false;
};

}  // namespace raid
