// SPDX-License-Identifier: GPL-2.0-or-later
// One window per user session: a second start ends at once, silently.
#pragma once

#include <memory>

namespace raid {

class SingleInstance {
 public:
  virtual ~SingleInstance() = default;
  // The lock, held for the life of the object; empty when another instance holds it (or, where
  // it cannot be taken at all, a lock that guards nothing: better two windows than none).
  static std::unique_ptr<SingleInstance> Acquire();
};

}  // namespace raid
