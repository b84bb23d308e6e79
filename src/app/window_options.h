// SPDX-License-Identifier: GPL-2.0-or-later
// How a main window is made: where its log goes, how fast its clock runs, and where the parts
// that reach outside come from (the tests and the demo give their own).
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "firmware/keep_awake.h"
#include "notify/push/http_client.h"
#include "notify/settings_backend.h"
#include "notify/smtp_client.h"

namespace raid {

struct WindowOptions {
  std::filesystem::path log_folder;
  // The clock and the timers run this much faster (the demo's screenshots and the tests).
  double speed = 1.0;
  // How device changes are noticed: the kernel's events, or a recount every 5 s (simulated
  // hosts, hosts without them).
  bool kernel_device_events = true;
  // Where the mail settings live: the platform's store (the registry key, or settings.toml in
  // RAIDGUI_CONFIG_DIR or the user's settings folder) when not given.
  std::function<std::unique_ptr<SettingsBackend>()> settings_backend;
  // The host description's five lines: this host's (BuildSystemInfo) when not given.
  std::function<std::vector<std::string>()> system_info;
  // The client alert and test mails go out through: libcurl's when not given.
  std::function<std::unique_ptr<SmtpClient>()> smtp_client;
  // The push channels' file: notify.toml in NotifyFolder() when empty.
  std::filesystem::path notify_file;
  // The clients push notifications go out through, one per channel: libcurl's when not given.
  HttpClientFactory http_client;
  // The firmware file the user picks, empty when cancelled: the open dialog when not given.
  std::function<std::string()> choose_firmware_file;
  // What keeps the machine up during an upgrade: the platform's sleep inhibitor when not given.
  std::function<std::unique_ptr<KeepAwake>()> keep_awake;
};

}  // namespace raid
