// SPDX-License-Identifier: GPL-2.0-or-later
#include "common/user_locale.h"

#include <clocale>
#include <initializer_list>

namespace raid {

void ApplyUserLocale() {
  if (std::setlocale(LC_ALL, "") == nullptr) {
    // One missing locale fails the whole call; take what the others name, C for the rest.
    std::setlocale(LC_ALL, "C");
    for (const int category : {LC_CTYPE, LC_COLLATE, LC_MONETARY, LC_TIME}) {
      std::setlocale(category, "");
    }
  }
  // "1.5" on the command line and in JSON must read the same everywhere.
  std::setlocale(LC_NUMERIC, "C");
}

}  // namespace raid
