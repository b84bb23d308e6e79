// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/platform.h"

namespace raid::cli {

void InstallReloadHandler() {}

bool ReloadRequested() {
  return false;
}

bool TakeReloadRequest() {
  return false;
}

}  // namespace raid::cli
