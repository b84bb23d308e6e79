// SPDX-License-Identifier: GPL-2.0-or-later
#include "sysinfo/linux/host_info_linux.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

class FakeDmi {
 public:
  FakeDmi() { fs::create_directories(root_ / "sys/class/dmi/id"); }
  const fs::path& root() const { return root_; }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(root_ / "sys/class/dmi/id" / name) << text;
  }

 private:
  testing::TempFolder root_{"raidgui-dmi-"};
};

NetworkInterface Interface(std::string name, std::vector<std::string> ipv4,
                           std::vector<std::string> ipv6 = {}, bool loopback = false) {
  return {std::move(name), loopback, std::move(ipv4), std::move(ipv6)};
}

TEST(LinuxBoard, MakerAndProductFromDmiWithoutTheKernelsPadding) {
  FakeDmi dmi;
  dmi.Write("board_vendor", "Gigabyte Technology Co., Ltd.   \n");
  dmi.Write("board_name", " B550 AORUS ELITE\n");
  LinuxHostInfo host(dmi.root(), [] { return std::vector<NetworkInterface>{}; });
  EXPECT_EQ(host.BoardManufacturer(), "Gigabyte Technology Co., Ltd.");
  EXPECT_EQ(host.BoardProduct(), "B550 AORUS ELITE");
}

TEST(LinuxBoard, MissingDmiGivesTheEmptyLabelLine) {
  FakeDmi dmi;  // virtual machines and containers often have no DMI tables
  dmi.Write("board_name", "\n");
  const auto lines = BuildSystemInfo(
      std::make_shared<LinuxHostInfo>(dmi.root(), [] { return std::vector<NetworkInterface>{}; }),
      std::chrono::seconds(3));
  EXPECT_EQ(lines[1], "\nMotherBoard :  - ");
  EXPECT_EQ(lines[3], "\nIP Address  : ");
}

TEST(LinuxAddresses, TheFirstInterfaceWithAnyAddressAnswers) {
  const std::vector<NetworkInterface> interfaces = {
      Interface("enp3s0", {}), Interface("wlp2s0", {}), Interface("docker0", {"172.17.0.1"}),
      Interface("virbr0", {"192.168.122.1"})};
  EXPECT_EQ(FirstAdapterAddresses(interfaces), "172.17.0.1");
}

TEST(LinuxAddresses, SeveralAddressesAreJoinedIPv4First) {
  const std::vector<NetworkInterface> interfaces = {
      Interface("eth0", {"192.0.2.2", "192.0.2.9"}, {"fd00::2", "fe80::fc:ff:fe00:1"})};
  EXPECT_EQ(FirstAdapterAddresses(interfaces), "192.0.2.2, 192.0.2.9, fd00::2, fe80::fc:ff:fe00:1");
}

TEST(LinuxAddresses, LoopbackNeverCountsAndAnIPv6OnlyInterfaceDoes) {
  const std::vector<NetworkInterface> interfaces = {Interface("lo", {"127.0.0.1"}, {"::1"}, true),
                                                    Interface("eth0", {}, {"fe80::1"})};
  EXPECT_EQ(FirstAdapterAddresses(interfaces), "fe80::1");
  EXPECT_EQ(FirstAdapterAddresses({Interface("lo", {"127.0.0.1"}, {"::1"}, true)}), "");
}

TEST(LinuxAddresses, TheLineShowsWhatTheInterfaceListerFound) {
  FakeDmi dmi;
  const auto lines = BuildSystemInfo(
      std::make_shared<LinuxHostInfo>(dmi.root(),
                                      [] {
                                        return std::vector{
                                            Interface("eth0", {}), Interface("eth1", {}),
                                            Interface("eth2", {"10.1.2.3", "10.1.2.4"})};
                                      }),
      std::chrono::seconds(3));
  EXPECT_EQ(lines[3], "\nIP Address  : 10.1.2.3, 10.1.2.4");
}

TEST(LinuxAddresses, ThisMachinesInterfacesComeInKernelIndexOrderWithoutZones) {
  const std::vector<NetworkInterface> interfaces = SystemNetworkInterfaces();
  unsigned previous = 0;
  for (const NetworkInterface& interface : interfaces) {
    const unsigned index = if_nametoindex(interface.name.c_str());
    if (index == 0) continue;  // went away meanwhile
    EXPECT_GT(index, previous) << interface.name << " out of order or listed twice";
    previous = index;
    EXPECT_THAT(interface.name, Not(HasSubstr(":")));
    for (const std::string& address : interface.ipv6)
      EXPECT_THAT(address, Not(HasSubstr("%")));
    if (interface.name == "lo") {
      EXPECT_TRUE(interface.loopback);
    }
  }
}

TEST(LinuxAddresses, ThisMachinesLineLeavesLoopbackOut) {
  const auto lines = BuildSystemInfo(CreatePlatformHostInfo(), std::chrono::seconds(3));
  EXPECT_NE(lines[2], "\nSystem Name : ");  // the kernel always has a host name
  const std::string label = "\nIP Address  : ";
  ASSERT_EQ(lines[3].substr(0, label.size()), label);
  std::string rest = lines[3].substr(label.size()) + ", ";
  for (std::size_t end; (end = rest.find(", ")) != std::string::npos; rest.erase(0, end + 2)) {
    const std::string address = rest.substr(0, end);
    EXPECT_FALSE(address.empty()) << lines[3];
    EXPECT_NE(address, "127.0.0.1");
    EXPECT_NE(address, "::1");
  }
}

}  // namespace
}  // namespace raid
