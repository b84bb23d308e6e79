// SPDX-License-Identifier: GPL-2.0-or-later
// raidsim-nbd as a virtual machine meets it: a small NBD client written from the protocol on its
// socket, and QEMU's own client, qemu-io, when it is installed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "sim_device.h"
#include "support/build_paths.h"
#include "support/shell_command.h"
#include "support/spawned_process.h"
#include "support/temp_folder.h"
#include "wire_client.h"

namespace raid::sim {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using raid::testing::RunShellCommand;
using raid::testing::ShellRun;
using ::testing::HasSubstr;

constexpr std::uint16_t kRead = 0, kWrite = 1, kDisconnect = 2, kFlush = 3, kTrim = 4,
                        kWriteZeroes = 6;
constexpr std::uint32_t kGo = 7, kInfo = 6, kExportName = 1, kStructuredReply = 8;
constexpr std::uint32_t kAck = 1, kInfoReply = 3, kErrUnsup = 0x80000001, kErrInvalid = 0x80000003,
                        kErrUnknown = 0x80000006;

// Big-endian fields of the given widths.
Bytes Fields(std::initializer_list<std::pair<std::size_t, std::uint64_t>> fields) {
  Bytes out;
  for (const auto& [width, value] : fields) {
    for (std::size_t i = width; i > 0; --i)
      out.push_back(static_cast<std::uint8_t>(value >> (8 * (i - 1))));
  }
  return out;
}

std::uint64_t Get(const Bytes& in, std::size_t at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width && at + i < in.size(); ++i)
    value = (value << 8) | in[at + i];
  return value;
}

Bytes PlainBytes(unsigned drive, std::uint64_t offset, std::size_t length) {
  SimPlainDisk disk(drive, PlainDiskSpec{});
  Bytes blocks((offset % 512 + length + 511) / 512 * 512);
  for (std::size_t i = 0; i * 512 < blocks.size(); ++i)
    disk.PlainBlock(static_cast<std::uint32_t>(offset / 512 + i),
                    std::span(blocks).subspan(i * 512, 512));
  return Bytes(blocks.begin() + offset % 512, blocks.begin() + offset % 512 + length);
}

std::string ReadText(const fs::path& path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), {}};
}

class Client {
 public:
  // An option reply's type, or a reply's error (~0: no reply at all), and the data.
  struct Answer {
    std::uint32_t code = ~0U;
    Bytes data;
  };

  explicit Client(const fs::path& socket_path) {
    fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
    connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const timeval limit{5, 0};  // a server that stops answering fails the test, not hangs it
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }
  ~Client() { close(fd_); }

  void Send(const Bytes& bytes) { send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
  Bytes Receive(std::size_t length) {
    Bytes out(length);
    if (length == 0) return out;  // a recv of nothing would wait for a byte
    out.resize(
        static_cast<std::size_t>(std::max<ssize_t>(0, recv(fd_, out.data(), length, MSG_WAITALL))));
    return out;
  }
  // The server hung up (not merely went quiet).
  bool Closed() {
    std::uint8_t byte = 0;
    const ssize_t got = recv(fd_, &byte, 1, 0);
    return got == 0 || (got < 0 && errno == ECONNRESET);
  }

  // Reads the greeting and answers with the client flags (fixed newstyle, no zeroes).
  Bytes Start(std::uint32_t flags = 3) {
    Bytes greeting = Receive(18);
    Send(Fields({{4, flags}}));
    return greeting;
  }
  void SendOption(std::uint32_t option, const Bytes& data, std::uint64_t length_field = ~0ULL) {
    Bytes out = {'I', 'H', 'A', 'V', 'E', 'O', 'P', 'T'};
    const Bytes fields =
        Fields({{4, option}, {4, length_field != ~0ULL ? length_field : data.size()}});
    out.insert(out.end(), fields.begin(), fields.end());
    out.insert(out.end(), data.begin(), data.end());
    Send(out);
  }
  Answer ReceiveOptionReply(std::uint32_t option) {
    const Bytes header = Receive(20);
    EXPECT_EQ(Get(header, 0, 8), 0x3E889045565A9U);
    EXPECT_EQ(Get(header, 8, 4), option);
    return {static_cast<std::uint32_t>(Get(header, 12, 4)),
            Receive(static_cast<std::size_t>(Get(header, 16, 4)))};
  }
  // The name, and a request for NBD_INFO_BLOCK_SIZE.
  static Bytes InfoData(const std::string& name) {
    Bytes data = Fields({{4, name.size()}});
    data.insert(data.end(), name.begin(), name.end());
    const Bytes one_request = Fields({{2, 1}, {2, 3}});
    data.insert(data.end(), one_request.begin(), one_request.end());
    return data;
  }
  // The NBD_REP_INFO payloads up to the final reply, whose type ends the list.
  std::vector<Answer> Option(std::uint32_t option, const Bytes& data) {
    SendOption(option, data);
    std::vector<Answer> answers;
    do {
      answers.push_back(ReceiveOptionReply(option));
    } while (answers.back().code == kInfoReply);
    return answers;
  }
  bool Go(const std::string& name) {
    return Start().size() == 18 && Option(kGo, InfoData(name)).back().code == kAck;
  }
  Answer Request(std::uint16_t type, std::uint64_t offset, std::uint32_t length,
                 const Bytes& payload = {}, std::uint32_t magic = 0x25609513) {
    Bytes out = Fields({{4, magic}, {2, 0}, {2, type}, {8, ++handle_}, {8, offset}, {4, length}});
    out.insert(out.end(), payload.begin(), payload.end());
    Send(out);
    const Bytes header = Receive(16);
    if (header.size() < 16) return {};
    EXPECT_EQ(Get(header, 0, 4), 0x67446698U);
    EXPECT_EQ(Get(header, 8, 8), handle_);
    Answer reply{static_cast<std::uint32_t>(Get(header, 4, 4)), {}};
    if (type == kRead && reply.code == 0) reply.data = Receive(length);
    return reply;
  }

 private:
  int fd_ = -1;
  std::uint64_t handle_ = 0;
};

class NbdServerTest : public ::testing::Test {
 protected:
  void TearDown() override { server_.reset(); }

  static fs::path Scenario(const std::string& name) {
    return fs::path(RAIDSIM_SCENARIO_DIR) / name;
  }
  fs::path WriteScenario(const std::string& json) {
    std::ofstream(dir_ / "scenario.json") << json;
    return dir_ / "scenario.json";
  }
  fs::path socket_path() const { return dir_ / "nbd.sock"; }

  bool Start(const fs::path& scenario, const std::string& more = "") {
    std::vector<std::string> arguments = {RAIDSIM_NBD, "--scenario", scenario, "--socket",
                                          socket_path()};
    if (!more.empty()) arguments.push_back(more);
    server_ =
        std::make_unique<raid::testing::SpawnedProcess>(arguments, dir_ / "out", dir_ / "err");
    return WaitForOutput("raidsim-nbd: serving ");
  }
  bool WaitForOutput(const std::string& text) {
    for (int i = 0; i < 500 && !server_->Wait(std::chrono::milliseconds(10)); ++i) {
      if (Out().find(text) != std::string::npos) return true;
    }
    return Out().find(text) != std::string::npos;
  }
  std::optional<int> Stop() {
    server_->Signal(SIGTERM);
    return server_->Wait(std::chrono::seconds(10));
  }
  std::string Out() const { return ReadText(dir_ / "out"); }
  std::string Err() const { return ReadText(dir_ / "err"); }

  raid::testing::TempFolder dir_{std::string("raidsim-nbd-") +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                                 "-"};
  std::unique_ptr<raid::testing::SpawnedProcess> server_;
};

TEST_F(NbdServerTest, ServesBlocksAfterGoOrExportNameAndCountsTheRequests) {
  ASSERT_TRUE(Start(Scenario("two_enclosures_three_disks.json")));
  EXPECT_THAT(Out(), HasSubstr("raidsim-nbd: serving drive0 drive1 drive2 drive3 drive4 on " +
                               socket_path().string() + "\n"));
  {
    Client client(socket_path());
    const Bytes greeting = client.Start();
    EXPECT_EQ(std::string(greeting.begin(), greeting.begin() + 16), "NBDMAGICIHAVEOPT");
    EXPECT_EQ(Get(greeting, 16, 2), 3U);  // fixed newstyle, no zeroes
    // QEMU asks for structured replies first and must fall back to simple ones.
    EXPECT_EQ(client.Option(kStructuredReply, {}).back().code, kErrUnsup);
    EXPECT_EQ(client.Option(kInfo, Client::InfoData("drive9")).back().code, kErrUnknown);
    const auto answers = client.Option(kGo, Client::InfoData("drive0"));
    ASSERT_EQ(answers.size(), 3U);
    const Bytes export_info = {0, 0, 0, 0, 0, 0x74, 0x70, 0xC0, 0x60, 0, 0, 0x65};
    EXPECT_EQ(answers[0].data, export_info);  // 976773168 blocks, flags without read-only
    const Bytes block_size = {0, 3, 0, 0, 2, 0, 0, 0, 0x10, 0, 0x02, 0, 0, 0};
    EXPECT_EQ(answers[1].data, block_size);
    EXPECT_EQ(answers[2].code, kAck);

    EXPECT_EQ(client.Request(kRead, 17 * 512, 512).data, PlainBytes(0, 17 * 512, 512));
    EXPECT_EQ(client.Request(kRead, 17 * 512 + 100, 1000).data,
              PlainBytes(0, 17 * 512 + 100, 1000));
    EXPECT_EQ(client.Request(kFlush, 0, 0).code, 0U);
    client.Request(kDisconnect, 0, 0);
    EXPECT_TRUE(client.Closed());
  }
  {
    Client client(socket_path());
    client.Start(1);  // the 124 zero bytes wanted
    client.SendOption(kExportName, {'d', 'r', 'i', 'v', 'e', '4'});
    const Bytes reply = client.Receive(134);
    ASSERT_EQ(reply.size(), 134U);
    EXPECT_EQ(Get(reply, 0, 8), 30031872ULL * 512);
    EXPECT_EQ(Get(reply, 8, 2), 0x65U);
    EXPECT_EQ(client.Request(kRead, 0, 4096).data, PlainBytes(4, 0, 4096));
  }
  Client client(socket_path());
  ASSERT_TRUE(client.Go("drive1"));
  // Each NBD read is one command: the controller hears its first block's address once.
  const auto knocks = testing::WithSeparators(testing::KnockAddresses(testing::Query(0x10)));
  for (const std::uint32_t lba : knocks)
    ASSERT_EQ(client.Request(kRead, std::uint64_t{lba} * 512, 2048).code, 0U) << lba;
  client.Request(kRead, 0x5FFF * 512, 512);
  const Bytes answer = client.Request(kRead, 17 * 512, 512).data;
  EXPECT_EQ(std::string(answer.begin(), answer.end()).substr(0, 16), "__TORVANE6182A__");
  EXPECT_EQ(Stop(), 0);
  EXPECT_THAT(Out(), HasSubstr("raidsim-nbd: requests: read " + std::to_string(knocks.size() + 5) +
                               ", write 0, trim 0, write-zeroes 0, flush 1, disconnect 1, other 0\n"
                               "raidsim-nbd: drive1: packets 1, decode errors 0, violations 0\n"
                               "raidsim-nbd: drive3: packets 0, decode errors 0, violations 0\n"));
  EXPECT_FALSE(fs::exists(socket_path()));
}

TEST_F(NbdServerTest, WritesAreRefusedCountedAndMakeTheExitStatusThree) {
  ASSERT_TRUE(Start(Scenario("two_enclosures_three_disks.json")));
  Client client(socket_path());
  ASSERT_TRUE(client.Go("drive0"));
  EXPECT_EQ(client.Request(kWrite, 0, 4096, Bytes(4096, 0xAB)).code, 1U);  // EPERM
  EXPECT_EQ(client.Request(kTrim, 0, 4096).code, 1U);
  EXPECT_EQ(client.Request(kWriteZeroes, 0, 4096).code, 1U);
  // The write's payload was taken as such, not as requests.
  EXPECT_EQ(client.Request(kRead, 0, 512).data, PlainBytes(0, 0, 512));
  EXPECT_EQ(Stop(), 3);
  EXPECT_THAT(Out(), HasSubstr("requests: read 1, write 1, trim 1, write-zeroes 1,"));
  EXPECT_THAT(Err(), HasSubstr("never writes"));
}

TEST_F(NbdServerTest, MalformedInputEndsOnlyThatConnection) {
  ASSERT_TRUE(Start(Scenario("two_enclosures_three_disks.json")));
  const std::uint64_t size = 976773168ULL * 512;
  {
    Client client(socket_path());
    ASSERT_TRUE(client.Go("drive0"));
    EXPECT_EQ(client.Request(kRead, size - 512, 1024).code, 22U);  // EINVAL
    EXPECT_EQ(client.Request(kRead, ~0ULL - 100, 512).code, 22U);
    EXPECT_EQ(client.Request(kRead, 0, 64U << 20).code, 22U);
    EXPECT_EQ(client.Request(kRead, 0, 0).code, 22U);
    EXPECT_EQ(client.Request(77, 0, 512).code, 22U);
    EXPECT_EQ(client.Request(kRead, size - 512, 512).code, 0U);
    EXPECT_EQ(client.Request(kRead, 0, 512, {}, 0x12345678).code, ~0U);
    EXPECT_TRUE(client.Closed());
  }
  {
    Client client(socket_path());
    client.Start();
    client.SendOption(kGo, {0, 0, 0, 9, 'd', 0, 0});  // a name longer than the data
    EXPECT_EQ(client.ReceiveOptionReply(kGo).code, kErrInvalid);
    client.SendOption(kGo, {}, 0xFFFFFFF0);  // never read, never allocated
    EXPECT_TRUE(client.Closed());
  }
  for (const std::uint32_t flags : {0U, 4U}) {  // no fixed newstyle; an unknown flag
    Client client(socket_path());
    client.Start(flags);
    client.SendOption(kGo, Client::InfoData("drive0"));
    EXPECT_TRUE(client.Closed()) << flags;
  }
  {
    Client client(socket_path());
    client.Start();
    client.Send(Bytes(16, 0x55));
    EXPECT_TRUE(client.Closed());
  }
  Client client(socket_path());
  ASSERT_TRUE(client.Go("drive2"));
  EXPECT_EQ(client.Request(kRead, 512, 512).data, PlainBytes(2, 512, 512));
  EXPECT_EQ(Stop(), 0);
}

TEST_F(NbdServerTest, TheTimelineStartsOnSignalAndChangesOfAttachmentAreRefused) {
  const std::string drives = R"({ "drives": [ { "number": 0, "type": "disk" } ], "timeline": [ )";
  ASSERT_TRUE(Start(WriteScenario(drives + R"({ "at_ms": 0, "drive": 0, "action": "set_faults",
      "faults": { "fail_next_reads": 5 } } ] })"),
                    "--timeline-on-signal"));
  Client client(socket_path());
  ASSERT_TRUE(client.Go("drive0"));
  EXPECT_EQ(client.Request(kRead, 0, 512).code, 0U);
  server_->Signal(SIGUSR1);
  ASSERT_TRUE(WaitForOutput("raidsim-nbd: timeline started\n"));
  EXPECT_EQ(client.Request(kRead, 0, 512).code, 5U);  // EIO
  EXPECT_EQ(Stop(), 0);

  const std::string unplug = drives + R"({ "at_s": 20, "drive": 0, "action": "unplug" } ] })";
  const ShellRun refused =
      RunShellCommand(std::string(RAIDSIM_NBD) + " --scenario " + WriteScenario(unplug).string() +
                      " --socket " + socket_path().string() + " 2>&1");
  EXPECT_EQ(refused.exit_code, 2);
  EXPECT_EQ(refused.out,
            "raidsim-nbd: the timeline's unplug of drive 0 at 20000 ms cannot be served; unplug "
            "the disk through the virtual machine's monitor\n");
  const ShellRun described = RunShellCommand(std::string(RAIDSIM_NBD) + " --describe " +
                                             Scenario("two_enclosures_three_disks.json").string());
  EXPECT_EQ(described.exit_code, 0);
  EXPECT_THAT(described.out,
              HasSubstr("\n{\"drive\":1,\"export\":\"drive1\",\"type\":\"enclosure\","
                        "\"vendor\":\"TORVANE\",\"product\":\"RAID6182 Bridge\","
                        "\"revision\":\"0100\",\"bytes\":1000204886016}\n"));
}

// QEMU's own NBD client, as the virtual machine uses it.
TEST_F(NbdServerTest, QemuIoReadsAndCannotWrite) {
  if (RunShellCommand("command -v qemu-io").exit_code != 0) {
    GTEST_SKIP() << "qemu-io is not installed: QEMU's client NOT checked";
  }
  ASSERT_TRUE(Start(Scenario("two_enclosures_three_disks.json")));
  const std::string uri = " 'nbd+unix:///drive1?socket=" + socket_path().string() + "' ";
  const ShellRun read = RunShellCommand("qemu-io -r -f raw" + uri + "-c 'read -v 8704 512' 2>&1");
  EXPECT_EQ(read.exit_code, 0) << read.out;
  std::string line = "00002200: ";
  for (const std::uint8_t byte : PlainBytes(1, 8704, 16)) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02x", byte);
    line += hex;
  }
  EXPECT_THAT(read.out, HasSubstr(line));
  EXPECT_THAT(read.out, HasSubstr("read 512/512 bytes at offset 8704"));
  const ShellRun write = RunShellCommand("qemu-io -f raw" + uri + "-c 'write 0 512' 2>&1");
  EXPECT_NE(write.exit_code, 0);
  EXPECT_THAT(write.out, HasSubstr("Operation not permitted"));
  EXPECT_EQ(Stop(), 3);
}

}  // namespace
}  // namespace raid::sim
