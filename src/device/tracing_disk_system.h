// SPDX-License-Identifier: GPL-2.0-or-later
// The protocol trace: every command that reaches a disk, real or simulated, one line each, for
// support and for checking that nothing but READ(10) and INQUIRY is ever sent. Set
// RAIDGUI_TRACE to a file name to switch it on.
//
//   open 3 | open C | open /media/usb    a drive or volume was opened
//   read 00005fff 1                       READ(10): block address (8 hex digits), block count
//   inquiry                               INQUIRY
//   close                                 the disk was closed
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/line_file.h"
#include "device/disk_system.h"

namespace raid {

inline constexpr const char* kTraceEnvironmentVariable = "RAIDGUI_TRACE";

// Appends whole lines to the trace file. Shared by the disk system and every disk it opened,
// which may live on different threads.
class TraceFile {
 public:
  // Opens `path` for appending; empty, with `problem` set, when that fails. A FIFO, a device or
  // a folder fails at once, never waited on, and so does a symbolic link someone else planted.
  static std::shared_ptr<TraceFile> Open(const std::string& path, std::string* problem);
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  // Writes `line` and a line feed in one write, so that a crash keeps the trace.
  void WriteLine(std::string_view line);

 private:
  explicit TraceFile(std::unique_ptr<LineFile> file) : file_(std::move(file)) {}
  std::mutex mutex_;
  std::unique_ptr<LineFile> file_;
};

class TracingDiskSystem : public DiskSystem {
 public:
  TracingDiskSystem(std::unique_ptr<DiskSystem> inner, std::shared_ptr<TraceFile> trace);

  std::unique_ptr<Disk> OpenPhysicalDrive(unsigned number, OpenFailure* why = nullptr) override;
  std::unique_ptr<Disk> OpenVolume(const std::string& volume, OpenFailure* why = nullptr) override;
  std::vector<std::string> LogicalVolumes() override;
  DriveType VolumeDriveType(const std::string& volume) override;
  std::string PhysicalDrivePath(unsigned number) override;

 private:
  std::unique_ptr<Disk> Traced(std::unique_ptr<Disk> disk, const std::string& name);

  std::unique_ptr<DiskSystem> inner_;
  std::shared_ptr<TraceFile> trace_;
};

// The trace line of one command.
std::string TraceLineFor(const ScsiDataIn& command);

// `inner` wrapped in a trace to `path`. When the file cannot be opened, `inner` itself comes back
// and `problem` (if given) says why, for the caller to show.
std::unique_ptr<DiskSystem> WrapWithTraceFile(std::unique_ptr<DiskSystem> inner,
                                              const std::string& path,
                                              std::string* problem = nullptr);

// As WrapWithTraceFile with the file named by RAIDGUI_TRACE; `inner` unchanged when the variable
// is unset or empty.
std::unique_ptr<DiskSystem> WrapWithTraceFromEnvironment(std::unique_ptr<DiskSystem> inner,
                                                         std::string* problem = nullptr);

}  // namespace raid
