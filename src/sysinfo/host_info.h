// SPDX-License-Identifier: GPL-2.0-or-later
// The host description that every alert mail carries and the status bar's double click shows:
// the main board, the computer's name and its IP addresses, as five lines.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace raid {

// Where the facts come from: WMI on Windows; DMI, the host name and the interfaces on Linux.
// The methods may block (a stuck WMI service); BuildSystemInfo bounds them. They are called from
// worker threads, several at once.
class HostInfoSource {
 public:
  virtual ~HostInfoSource() = default;

  virtual std::string BoardManufacturer() = 0;
  virtual std::string BoardProduct() = 0;
  virtual std::string SystemName() = 0;
  // The addresses of one network adapter, joined with ", ".
  virtual std::string IpAddresses() = 0;
};

struct HostFacts {
  std::string board_manufacturer;
  std::string board_product;
  std::string system_name;
  std::string ip_addresses;
};

// Time each source gets before its text is taken as empty.
inline constexpr std::chrono::milliseconds kHostQueryLimit{3000};

// The five lines, each starting with a line feed, so joined or mailed each begins a new line.
std::vector<std::string> SystemInfoLines(const HostFacts& facts);

// The system name that `lines` (SystemInfoLines) carry; empty when they carry none.
std::string SystemNameOf(const std::vector<std::string>& lines);

// Asks `source` for all four facts at once, each on a thread of its own, and waits no longer than
// `per_source_limit` in all: whatever has not answered by then is empty text, so the window's
// start-up never hangs on the host. A thread that is still waiting is left behind; it owns its
// share of `source` and of its answer, and touches nothing else.
HostFacts QueryHostFacts(std::shared_ptr<HostInfoSource> source,
                         std::chrono::milliseconds per_source_limit = kHostQueryLimit);

// SystemInfoLines of QueryHostFacts: what the window builds once at start.
std::vector<std::string> BuildSystemInfo(
    std::shared_ptr<HostInfoSource> source,
    std::chrono::milliseconds per_source_limit = kHostQueryLimit);

// The lines as one text, without separator, for the "System Information" message box.
std::string JoinSystemInfo(const std::vector<std::string>& lines);

// This host's real source. One implementation file per platform.
std::unique_ptr<HostInfoSource> CreatePlatformHostInfo();

// What the window shows, and then ends, when InitializeComForHostQueries fails.
inline constexpr const char* kComSecurityErrorText = "CoInitializeSecurity error!";

// Starts COM on the calling (window) thread and sets the process's COM security to packet-level
// authentication with impersonation, which WMI needs. False when the security set-up fails.
// Nothing to do on Linux: always true there.
bool InitializeComForHostQueries();

}  // namespace raid
