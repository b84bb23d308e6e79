// SPDX-License-Identifier: GPL-2.0-or-later
#include "nbd_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <type_traits>
#include <utility>
#include <variant>

#include "nbd_protocol.h"
#include "wire_bytes.h"

namespace raid::sim {
namespace {

// More connections than a virtual machine opens for all its disks at once; beyond it a client
// is turned away rather than given another thread.
constexpr std::size_t kMaxConnections = 64;
// A connection keeps its read buffer up to this size; a larger one is given back after use.
constexpr std::size_t kKeptBufferBytes = 4U << 20;

std::string Trimmed(std::string text, std::size_t field) {
  if (text.size() > field) text.resize(field);
  while (!text.empty() && text.back() == ' ')
    text.pop_back();
  return text;
}

bool ReadExact(int fd, std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t got = recv(fd, out.data() + done, out.size() - done, 0);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
    } else if (got == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
}

bool WriteAll(int fd, std::span<const std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t sent = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
    } else if (sent == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
}

// Reads and forgets `length` bytes (a write's payload) without holding them all.
bool Discard(int fd, std::uint64_t length) {
  std::array<std::uint8_t, 65536> scratch;
  while (length > 0) {
    const std::size_t part =
        static_cast<std::size_t>(std::min<std::uint64_t>(length, scratch.size()));
    if (!ReadExact(fd, std::span(scratch).first(part))) return false;
    length -= part;
  }
  return true;
}

sockaddr_un UnixAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

}  // namespace

std::vector<NbdExport> ExportsOf(const Scenario& scenario) {
  std::vector<NbdExport> exports;
  for (const auto& [number, drive] : scenario.drives) {
    NbdExport out;
    out.drive = number;
    out.name = "drive" + std::to_string(number);
    std::visit(
        [&](const auto& device) {
          out.identity = {Trimmed(device.vendor, 8), Trimmed(device.product, 16),
                          Trimmed(device.product_revision, 4)};
          if constexpr (std::is_same_v<std::decay_t<decltype(device)>, EnclosureSpec>) {
            out.enclosure = true;
            out.bytes = device.disk_capacity * kBlockBytes;
          } else {
            out.bytes = device.capacity * kBlockBytes;
          }
        },
        drive.device);
    exports.push_back(std::move(out));
  }
  return exports;
}

std::optional<std::string> UnservableEvent(const Scenario& scenario) {
  for (const TimelineEvent& event : scenario.timeline) {
    const std::string what = " of drive " + std::to_string(event.drive);
    const std::string when = " at " + std::to_string(event.at_ms) + " ms cannot be served; ";
    if (std::holds_alternative<action::Unplug>(event.action)) {
      return "the timeline's unplug" + what + when +
             "unplug the disk through the virtual machine's monitor";
    }
    if (std::holds_alternative<action::Plug>(event.action)) {
      return "the timeline's plug" + what + when +
             "plug the disk in through the virtual machine's monitor";
    }
    if (const auto* move = std::get_if<action::Move>(&event.action)) {
      return "the timeline's move" + what + " to drive " + std::to_string(move->to) + when +
             "the guest numbers its disks itself";
    }
  }
  return std::nullopt;
}

NbdServer::NbdServer(SimHost& host, std::vector<NbdExport> exports)
    : host_(host), exports_(std::move(exports)) {
  for (const NbdExport& e : exports_)
    controller_counts_.push_back({e.drive, 0, 0, 0});
}

NbdServer::~NbdServer() {
  Stop();
}

bool NbdServer::Listen(const std::string& path, std::string& error) {
  if (path.empty() || path.size() >= sizeof(sockaddr_un{}.sun_path)) {
    error = "the socket path must have 1 to " + std::to_string(sizeof(sockaddr_un{}.sun_path) - 1) +
            " bytes: " + path;
    return false;
  }
  const sockaddr_un address = UnixAddress(path);
  const auto* generic = reinterpret_cast<const sockaddr*>(&address);
  struct stat status {};
  if (lstat(path.c_str(), &status) == 0) {
    if (!S_ISSOCK(status.st_mode)) {
      error = path + " exists and is not a socket";
      return false;
    }
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool live = probe >= 0 && connect(probe, generic, sizeof address) == 0;
    if (probe >= 0) close(probe);
    if (live) {
      error = "another server listens on " + path;
      return false;
    }
    unlink(path.c_str());
  }
  listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0 || bind(listen_fd_, generic, sizeof address) != 0 ||
      listen(listen_fd_, 16) != 0 || pipe2(wake_, O_CLOEXEC) != 0) {
    error = "cannot listen on " + path + ": " + std::strerror(errno);
    if (listen_fd_ >= 0) close(listen_fd_);
    listen_fd_ = -1;
    return false;
  }
  path_ = path;
  accept_thread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void NbdServer::Stop() {
  if (!accept_thread_.joinable()) return;
  const char wake = 1;
  [[maybe_unused]] const ssize_t ignored = write(wake_[1], &wake, 1);
  accept_thread_.join();
  close(listen_fd_);
  unlink(path_.c_str());
  close(wake_[0]);
  close(wake_[1]);
  std::list<std::unique_ptr<Connection>> ending;
  {
    std::lock_guard lock(mutex_);
    for (const auto& connection : connections_)
      shutdown(connection->fd, SHUT_RDWR);
    ending.swap(connections_);
  }
  // Without the lock: the threads count their last requests under it.
  for (const auto& connection : ending) {
    connection->thread.join();
    close(connection->fd);
  }
}

// Joins the connections that ended and closes their sockets. A connection's thread never
// closes its own socket, so that Stop can shut down any socket on the list without hitting a
// number the system gave to another file since.
void NbdServer::ReapLocked() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if ((*it)->done) {
      (*it)->thread.join();
      close((*it)->fd);
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void NbdServer::AcceptLoop() {
  for (;;) {
    std::array<pollfd, 2> waits = {pollfd{listen_fd_, POLLIN, 0}, pollfd{wake_[0], POLLIN, 0}};
    if (poll(waits.data(), waits.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (waits[1].revents != 0) return;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    ReapLocked();
    if (connections_.size() >= kMaxConnections) {
      close(fd);
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Connection* raw = connection.get();
    connection->thread = std::thread([this, raw] {
      Serve(raw->fd);
      shutdown(raw->fd, SHUT_RDWR);  // the client hears the end now, the socket closes later
      raw->done = true;
    });
    connections_.push_back(std::move(connection));
  }
}

void NbdServer::Serve(int fd) {
  if (const NbdExport* chosen = Handshake(fd)) {
    Transmit(fd, static_cast<std::size_t>(chosen - exports_.data()));
  }
}

// Option haggling; the export the client settled on, or nothing when the connection is over.
const NbdExport* NbdServer::Handshake(int fd) {
  using namespace nbd;
  if (!WriteAll(fd, Greeting())) return nullptr;
  std::array<std::uint8_t, 4> flag_bytes{};
  if (!ReadExact(fd, flag_bytes)) return nullptr;
  const auto client_flags = static_cast<std::uint32_t>(wire::GetBigEndian(flag_bytes, 0, 4));
  // A client flag we do not know asks for something we cannot do.
  if ((client_flags & ~std::uint32_t{kFlagFixedNewstyle | kFlagNoZeroes}) != 0) return nullptr;
  const bool fixed = (client_flags & kFlagFixedNewstyle) != 0;
  const bool no_zeroes = (client_flags & kFlagNoZeroes) != 0;
  auto find = [&](const std::string& name) -> const NbdExport* {
    for (const NbdExport& e : exports_) {
      if (e.name == name) return &e;
    }
    return nullptr;
  };
  Bytes data;
  for (;;) {
    std::array<std::uint8_t, kOptionHeaderBytes> header_bytes{};
    if (!ReadExact(fd, header_bytes)) return nullptr;
    const OptionHeader header = ParseOptionHeader(header_bytes);
    if (!header.magic_ok || header.length > kMaxOptionBytes) return nullptr;
    data.resize(header.length);
    if (!ReadExact(fd, data)) return nullptr;
    if (header.option == kOptExportName) {
      // No way to say no but hanging up.
      const NbdExport* chosen = find(std::string(data.begin(), data.end()));
      if (!chosen || !WriteAll(fd, ExportNameReply(chosen->bytes, kExportFlags, no_zeroes))) {
        return nullptr;
      }
      return chosen;
    }
    // A client without fixed newstyle could not read a reply to anything else.
    if (!fixed) return nullptr;
    Bytes reply;
    const NbdExport* chosen = nullptr;
    if (header.option == kOptAbort) {
      WriteAll(fd, OptionReply(header.option, kRepAck));
      return nullptr;
    } else if (header.option == kOptInfo || header.option == kOptGo) {
      const std::optional<InfoRequest> request = ParseInfoRequest(data);
      chosen = request ? find(request->name) : nullptr;
      if (!request) {
        reply = OptionReply(header.option, kRepErrInvalid);
      } else if (!chosen) {
        reply = OptionReply(header.option, kRepErrUnknown);
      } else {
        reply = InfoReplies(header.option, chosen->bytes, kExportFlags);
      }
    } else {
      reply = OptionReply(header.option, kRepErrUnsup);
    }
    if (!WriteAll(fd, reply)) return nullptr;
    if (chosen && header.option == kOptGo) return chosen;
  }
}

void NbdServer::Transmit(int fd, std::size_t export_index) {
  using namespace nbd;
  const NbdExport& served = exports_[export_index];
  auto count = [&](std::uint64_t NbdRequestCounts::*field) {
    std::lock_guard lock(mutex_);
    ++(counts_.*field);
  };
  auto reply = [&](std::uint32_t error, std::uint64_t handle) {
    return WriteAll(fd, SimpleReply(error, handle));
  };
  std::vector<std::uint8_t> blocks;
  for (;;) {
    std::array<std::uint8_t, kRequestBytes> header{};
    if (!ReadExact(fd, header)) return;
    const Request request = ParseRequest(header);
    if (!request.magic_ok) return;  // out of step with the client: nothing after it is sure
    bool sent = true;
    switch (request.type) {
      case kCmdRead: {
        count(&NbdRequestCounts::read);
        const std::optional<CoveringBlocks> range =
            BlocksOfRead(request.offset, request.length, served.bytes);
        if (!range) {
          sent = reply(kErrInvalid, request.handle);
          break;
        }
        // The disks answer READ(10), whose block numbers have 32 bits.
        if (range->lba + range->blocks > (std::uint64_t{1} << 32)) {
          sent = reply(kErrIo, request.handle);
          break;
        }
        blocks.resize(std::size_t{range->blocks} * kBlockBytes);
        const SimDevice::ReadOutcome outcome = host_.BlockRead(
            served.drive, static_cast<std::uint32_t>(range->lba), range->blocks, blocks);
        if (served.enclosure) {
          std::lock_guard lock(mutex_);
          NbdControllerCounts& controller = controller_counts_[export_index];
          controller.packets += outcome.packet ? 1 : 0;
          controller.decode_errors += outcome.decode_error ? 1 : 0;
          controller.violations += outcome.violation ? 1 : 0;
        }
        if (!outcome.ok) {
          sent = reply(kErrIo, request.handle);
          break;
        }
        sent = reply(0, request.handle) &&
               WriteAll(fd, std::span(blocks).subspan(range->skip, request.length));
        if (blocks.size() > kKeptBufferBytes) blocks = {};
        break;
      }
      case kCmdWrite:
        count(&NbdRequestCounts::write);
        sent = Discard(fd, request.length) && reply(kErrPerm, request.handle);
        break;
      case kCmdTrim:
        count(&NbdRequestCounts::trim);
        sent = reply(kErrPerm, request.handle);
        break;
      case kCmdWriteZeroes:
        count(&NbdRequestCounts::write_zeroes);
        sent = reply(kErrPerm, request.handle);
        break;
      case kCmdFlush:
        count(&NbdRequestCounts::flush);
        sent = reply(0, request.handle);
        break;
      case kCmdDisconnect:
        count(&NbdRequestCounts::disconnect);
        return;
      default:
        count(&NbdRequestCounts::other);
        sent = reply(kErrInvalid, request.handle);
        break;
    }
    if (!sent) return;
  }
}

NbdRequestCounts NbdServer::Counts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

std::vector<NbdControllerCounts> NbdServer::ControllerCounts() const {
  std::lock_guard lock(mutex_);
  std::vector<NbdControllerCounts> out;
  for (std::size_t i = 0; i < exports_.size(); ++i) {
    if (exports_[i].enclosure) out.push_back(controller_counts_[i]);
  }
  return out;
}

}  // namespace raid::sim
