#include "cli/reload_request.h"

namespace raid::cli {

void InstallReloadHandler() {}

bool ReloadRequested() {
  return false;
}

bool TakeReloadRequest() {
  return false;
}

}  // namespace raid::cli
