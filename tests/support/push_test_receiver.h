// SPDX-License-Identifier: GPL-2.0-or-later
// The push services' stand-in (tests/notify/push_test_receiver.py) as a child process on a
// loopback port it chose itself, with its record of every request: what arrived, what it answered
// and how the request differs from the form the service documents. POSIX only.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "support/build_paths.h"
#include "support/spawned_process.h"

namespace raid::testing {

class PushTestReceiver {
 public:
  // HTTPS with a certificate of its own CA when `tls`; the CA is then ca_file().
  PushTestReceiver(const std::filesystem::path& folder, bool tls)
      : folder_(folder),
        process_(Arguments(folder, tls), folder / "stdout.txt", folder / "stderr.txt") {
    // "PORT <n>" once it listens (making the certificates may take a moment).
    for (int wait = 0; process_.started() && port_ == 0 && wait < 200; ++wait) {
      const std::string said = Read("stdout.txt");
      if (said.starts_with("PORT ") && said.find('\n') != std::string::npos) {
        port_ = static_cast<std::uint16_t>(std::stoi(said.substr(5)));
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
  }

  std::uint16_t port() const { return port_; }
  std::string ca_file() const { return Path("ca.pem"); }
  std::string errors() const { return Read("stderr.txt"); }

  // Every request it saw, in order.
  std::vector<nlohmann::json> Records() const {
    std::ifstream file(folder_ / "record.jsonl");
    std::vector<nlohmann::json> records;
    for (std::string line; std::getline(file, line);)
      records.push_back(nlohmann::json::parse(line));
    return records;
  }

 private:
  static std::vector<std::string> Arguments(const std::filesystem::path& folder, bool tls) {
    std::filesystem::create_directories(folder);
    std::vector<std::string> arguments = {SYSTEM_PYTHON, PUSH_TEST_RECEIVER, "--record",
                                          (folder / "record.jsonl").string()};
    if (tls) arguments.insert(arguments.end(), {"--tls-dir", folder.string()});
    return arguments;
  }
  std::string Path(const char* name) const { return (folder_ / name).string(); }
  std::string Read(const char* name) const {
    std::ifstream file(folder_ / name);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }

  std::filesystem::path folder_;
  SpawnedProcess process_;  // killed with the object
  std::uint16_t port_ = 0;
};

}  // namespace raid::testing
