// SPDX-License-Identifier: GPL-2.0-or-later
// The SMTP server of the mail tests (tests/notify/smtp_test_server.py, aiosmtpd) as a child process
// on a loopback port it chose itself, with what it saw: its record of every step and the messages
// it accepted.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/build_paths.h"

extern char** environ;

namespace raid {

namespace test_smtp {
namespace fs = std::filesystem;
using json = nlohmann::json;

inline std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

// The server script as a child process, on a port it chose itself.
class TestSmtpServer {
 public:
  TestSmtpServer(const fs::path& folder, std::vector<std::string> options) : folder_(folder) {
    fs::create_directories(folder_);
    std::vector<std::string> arguments = {SYSTEM_PYTHON, SMTP_TEST_SERVER,
                                          "--record",    (folder_ / "record.jsonl").string(),
                                          "--cert-dir",  folder_.string()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments)
      argv.push_back(argument.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, (folder_ / "server-stderr.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&pid_, SYSTEM_PYTHON, &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // "PORT <n>\n" once it listens.
    std::string said;
    pollfd ready{out[0], POLLIN, 0};
    char buffer[64];
    while (pid_ != 0 && said.find('\n') == std::string::npos && poll(&ready, 1, 10000) == 1) {
      const ssize_t n = read(out[0], buffer, sizeof buffer);
      if (n <= 0) break;
      said.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    if (said.rfind("PORT ", 0) == 0) port_ = static_cast<std::uint16_t>(std::stoi(said.substr(5)));
  }
  ~TestSmtpServer() {
    if (pid_ == 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  TestSmtpServer(const TestSmtpServer&) = delete;
  TestSmtpServer& operator=(const TestSmtpServer&) = delete;

  std::uint16_t port() const { return port_; }
  fs::path ca_file() const { return folder_ / "ca.pem"; }
  std::string server_errors() const { return ReadFile(folder_ / "server-stderr.txt"); }

  // What the server saw, in order; only the steps of `event` when given.
  std::vector<json> Records(const std::string& event = "") const {
    std::ifstream file(folder_ / "record.jsonl");
    std::vector<json> records;
    for (std::string line; std::getline(file, line);) {
      json record = json::parse(line);
      if (event.empty() || record["event"] == event) records.push_back(std::move(record));
    }
    return records;
  }

 private:
  fs::path folder_;
  pid_t pid_ = 0;
  std::uint16_t port_ = 0;
};

}  // namespace test_smtp

using test_smtp::TestSmtpServer;

}  // namespace raid
