// SPDX-License-Identifier: GPL-2.0-or-later
// The host description on Linux: the board from DMI in sysfs, the kernel's host name, and the
// addresses of the first network interface that has any.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "sysinfo/host_info.h"

namespace raid {

struct NetworkInterface {
  std::string name;
  bool loopback = false;
  // Text form, in the kernel's order (primary address first). IPv6 link-local addresses carry no
  // zone ("fe80::1"): the line names the host, not a route to it.
  std::vector<std::string> ipv4;
  std::vector<std::string> ipv6;
};

using InterfaceLister = std::function<std::vector<NetworkInterface>()>;

// This machine's interfaces with their addresses, ordered by the kernel's interface index, so
// the same interface comes first from one start to the next. Alias labels ("eth0:1") belong to
// their device.
std::vector<NetworkInterface> SystemNetworkInterfaces();

// The addresses of the first interface in `interfaces` that has any, loopback left out: IPv4
// before IPv6, joined with ", ". Empty when none has an address.
std::string FirstAdapterAddresses(const std::vector<NetworkInterface>& interfaces);

class LinuxHostInfo : public HostInfoSource {
 public:
  // `root` prefixes the /sys paths: "/" on a real host, a fake tree in tests.
  explicit LinuxHostInfo(std::filesystem::path root = "/",
                         InterfaceLister interfaces = SystemNetworkInterfaces);

  std::string BoardManufacturer() override;
  std::string BoardProduct() override;
  std::string SystemName() override;
  std::string IpAddresses() override;

 private:
  std::string DmiText(const char* name) const;

  std::filesystem::path root_;
  InterfaceLister interfaces_;
};

}  // namespace raid
