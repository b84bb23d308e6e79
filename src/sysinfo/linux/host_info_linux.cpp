// SPDX-License-Identifier: GPL-2.0-or-later
#include "sysinfo/linux/host_info_linux.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <limits.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <utility>

namespace raid {

namespace {

// DMI strings are short; a sysfs file that is anything else is not read whole.
constexpr std::size_t kMaxDmiText = 256;

std::string Trimmed(std::string text) {
  constexpr const char* kBlanks = " \t\r\n";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

std::string AddressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = {};
  const void* bytes = nullptr;
  if (address->sa_family == AF_INET)
    bytes = &reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
  else
    bytes = &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
  if (inet_ntop(address->sa_family, bytes, text, sizeof text) == nullptr) return {};
  return text;
}

}  // namespace

std::vector<NetworkInterface> SystemNetworkInterfaces() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};

  struct Indexed {
    unsigned index;
    NetworkInterface interface;
  };
  std::vector<Indexed> found;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_name == nullptr) continue;
    std::string name = entry->ifa_name;
    name = name.substr(0, name.find(':'));
    auto it = std::find_if(found.begin(), found.end(),
                           [&](const Indexed& known) { return known.interface.name == name; });
    if (it == found.end()) {
      Indexed added{if_nametoindex(name.c_str()), {}};
      added.interface.name = name;
      found.push_back(std::move(added));
      it = std::prev(found.end());
    }
    NetworkInterface& interface = it->interface;
    if ((entry->ifa_flags & IFF_LOOPBACK) != 0) interface.loopback = true;
    const sockaddr* address = entry->ifa_addr;
    if (address == nullptr) continue;
    if (address->sa_family == AF_INET) {
      const std::string text = AddressText(address);
      if (!text.empty()) interface.ipv4.push_back(text);
    } else if (address->sa_family == AF_INET6) {
      const std::string text = AddressText(address);
      if (!text.empty()) interface.ipv6.push_back(text);
    }
  }
  freeifaddrs(list);

  // An interface whose index cannot be had (it went away meanwhile) goes last.
  std::stable_sort(found.begin(), found.end(), [](const Indexed& a, const Indexed& b) {
    return (a.index == 0 ? UINT_MAX : a.index) < (b.index == 0 ? UINT_MAX : b.index);
  });
  std::vector<NetworkInterface> interfaces;
  interfaces.reserve(found.size());
  for (Indexed& indexed : found)
    interfaces.push_back(std::move(indexed.interface));
  return interfaces;
}

std::string FirstAdapterAddresses(const std::vector<NetworkInterface>& interfaces) {
  for (const NetworkInterface& interface : interfaces) {
    if (interface.loopback) continue;
    std::string joined;
    for (const auto* family : {&interface.ipv4, &interface.ipv6}) {
      for (const std::string& address : *family) {
        if (!joined.empty()) joined += ", ";
        joined += address;
      }
    }
    if (!joined.empty()) return joined;
  }
  return {};
}

LinuxHostInfo::LinuxHostInfo(std::filesystem::path root, InterfaceLister interfaces)
    : root_(std::move(root)), interfaces_(std::move(interfaces)) {}

std::string LinuxHostInfo::DmiText(const char* name) const {
  std::ifstream file(root_ / "sys/class/dmi/id" / name);
  if (!file) return {};
  std::string text(kMaxDmiText, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(file.gcount()));
  return Trimmed(std::move(text));
}

std::string LinuxHostInfo::BoardManufacturer() {
  return DmiText("board_vendor");
}

std::string LinuxHostInfo::BoardProduct() {
  return DmiText("board_name");
}

std::string LinuxHostInfo::SystemName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') return name;
  utsname host{};
  if (uname(&host) == 0) return host.nodename;
  return {};
}

std::string LinuxHostInfo::IpAddresses() {
  return interfaces_ ? FirstAdapterAddresses(interfaces_()) : std::string();
}

std::unique_ptr<HostInfoSource> CreatePlatformHostInfo() {
  return std::make_unique<LinuxHostInfo>();
}

bool InitializeComForHostQueries() {
  return true;  // no COM on Linux
}

}  // namespace raid
