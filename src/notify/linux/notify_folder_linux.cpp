// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/linux/toml_settings_backend.h"
#include "notify/push/push_files.h"

namespace raid {

// Beside settings.toml, with the same choice of folder.
std::filesystem::path NotifyFolder() {
  return SettingsFolder();
}

}  // namespace raid
