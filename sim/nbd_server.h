// SPDX-License-Identifier: GPL-2.0-or-later
// The simulated host's drives as NBD exports on a unix socket, so that a virtual machine can
// attach them as disks and a guest's kernel reads them as it reads a USB disk. Every export
// read is one read of the drive, served by the SimHost with its timeline, faults and
// controllers; writes are refused and counted (the program never writes to a disk).
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "scenario.h"
#include "sim_device.h"
#include "sim_host.h"

namespace raid::sim {

struct NbdExport {
  unsigned drive = 0;
  std::string name;  // "drive<N>"
  bool enclosure = false;
  InquiryIdentity identity;  // as INQUIRY reports it, without the padding blanks
  std::uint64_t bytes = 0;   // the disk's capacity as the host sees it
};

// One export per drive of the scenario, in drive order.
std::vector<NbdExport> ExportsOf(const Scenario& scenario);

// The first timeline event a block server cannot carry out (unplug, plug, move: the virtual
// machine attaches and detaches its disks itself), as a sentence; nothing when there is none.
std::optional<std::string> UnservableEvent(const Scenario& scenario);

struct NbdRequestCounts {
  std::uint64_t read = 0;
  std::uint64_t write = 0;
  std::uint64_t trim = 0;
  std::uint64_t write_zeroes = 0;
  std::uint64_t flush = 0;
  std::uint64_t disconnect = 0;
  std::uint64_t other = 0;

  std::uint64_t refused() const { return write + trim + write_zeroes; }
};

// What an enclosure's controller made of the reads it was served.
struct NbdControllerCounts {
  unsigned drive = 0;
  std::uint64_t packets = 0;
  std::uint64_t decode_errors = 0;
  std::uint64_t violations = 0;
};

class NbdServer {
 public:
  NbdServer(SimHost& host, std::vector<NbdExport> exports);
  ~NbdServer();
  NbdServer(const NbdServer&) = delete;
  NbdServer& operator=(const NbdServer&) = delete;

  // Listens on a unix socket at `path` and serves from a thread of its own, one more thread per
  // connection. A socket left there by an earlier run is replaced; any other file, or a socket
  // somebody still listens on, is an error.
  bool Listen(const std::string& path, std::string& error);
  // Ends every connection (a read being held finishes first), waits for their threads and
  // removes the socket file.
  void Stop();

  NbdRequestCounts Counts() const;
  std::vector<NbdControllerCounts> ControllerCounts() const;

 private:
  struct Connection {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void AcceptLoop();
  void Serve(int fd);
  const NbdExport* Handshake(int fd);
  void Transmit(int fd, std::size_t export_index);
  void ReapLocked();

  SimHost& host_;
  const std::vector<NbdExport> exports_;
  std::string path_;
  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};
  std::thread accept_thread_;

  mutable std::mutex mutex_;  // guards what follows
  std::list<std::unique_ptr<Connection>> connections_;
  NbdRequestCounts counts_;
  std::vector<NbdControllerCounts> controller_counts_;  // one per export
};

}  // namespace raid::sim
