// SPDX-License-Identifier: GPL-2.0-or-later
// Keeps the machine from sleeping, shutting down or ending the session while the flash of an
// enclosure is rewritten: an interrupted upgrade leaves the controller without working firmware.
// Each platform provides its own (a logind inhibitor lock on Linux, the execution state and the
// session-end answer on Windows).
#pragma once

#include <memory>
#include <string>
#include <utility>

namespace raid {

// Held while it lives; destroying it lets the machine sleep again.
class KeepAwakeHold {
 public:
  virtual ~KeepAwakeHold() = default;
};

class KeepAwake {
 public:
  virtual ~KeepAwake() = default;
  // Empty, with `why_not` saying why in words for the user, when no hold can be had.
  virtual std::unique_ptr<KeepAwakeHold> Hold(std::string& why_not) = 0;
};

// Where the build or the host has no way to keep the machine awake.
class NoKeepAwake : public KeepAwake {
 public:
  explicit NoKeepAwake(std::string reason) : reason_(std::move(reason)) {}
  std::unique_ptr<KeepAwakeHold> Hold(std::string& why_not) override {
    why_not = reason_;
    return nullptr;
  }

 private:
  std::string reason_;
};

}  // namespace raid
