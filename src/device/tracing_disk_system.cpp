// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/tracing_disk_system.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "device/forwarding_disk_system.h"
#include "device/scsi_commands.h"

namespace raid {

namespace {

// One line per command: control characters (and the backslash that escapes them) in a mount
// point are written as \ooo, as /proc/self/mountinfo does.
std::string EscapeName(const std::string& name) {
  std::string escaped;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '\\') {
      escaped += fmt::format("\\{:03o}", byte);
    } else {
      escaped += c;
    }
  }
  return escaped;
}

class TracingDisk : public ForwardingDisk {
 public:
  TracingDisk(std::unique_ptr<Disk> inner, std::shared_ptr<TraceFile> trace)
      : ForwardingDisk(std::move(inner)), trace_(std::move(trace)) {}

  ~TracingDisk() override {
    Close();
    trace_->WriteLine("close");
  }

  // Written before the command goes out, so a command that hangs or crashes is on record. An
  // operating system query about the volume is no command to the disk: not traced.
  ScsiOutcome ExecuteDataIn(const ScsiDataIn& command) override {
    trace_->WriteLine(TraceLineFor(command));
    return ForwardingDisk::ExecuteDataIn(command);
  }

 private:
  std::shared_ptr<TraceFile> trace_;
};

}  // namespace

std::shared_ptr<TraceFile> TraceFile::Open(const std::string& path, std::string* problem) {
  std::string error;
  std::unique_ptr<LineFile> file =
      LineFile::Open(path, LineFile::Use::kAppend, FileAccess::kUsual, error);
  if (file == nullptr) {
    if (problem != nullptr)
      *problem = fmt::format("Cannot open the trace file {}: {}", path, error);
    return nullptr;
  }
  return std::shared_ptr<TraceFile>(new TraceFile(std::move(file)));
}

void TraceFile::WriteLine(std::string_view line) {
  // The same line feeds on every platform.
  std::string text(line);
  text += '\n';
  std::string ignored;  // a trace that cannot be written must not stop the commands it traces
  const std::lock_guard lock(mutex_);
  file_->Append(text, ignored);
}

std::string TraceLineFor(const ScsiDataIn& command) {
  const DecodedCommand decoded = DecodeCommand(command);
  switch (decoded.kind) {
    case DecodedCommand::Kind::kRead10:
      return fmt::format("read {:08x} {}", decoded.lba, decoded.blocks);
    case DecodedCommand::Kind::kInquiry:
      return "inquiry";
    case DecodedCommand::Kind::kOther:
      break;
  }
  // scsi_commands.h builds nothing else; should another CDB ever appear, the trace shows it
  // rather than hide it.
  std::string line = "cdb";
  const std::size_t length = std::min<std::size_t>(command.cdb_length, command.cdb.size());
  for (std::size_t i = 0; i < length; ++i)
    line += fmt::format(" {:02x}", command.cdb[i]);
  return line;
}

TracingDiskSystem::TracingDiskSystem(std::unique_ptr<DiskSystem> inner,
                                     std::shared_ptr<TraceFile> trace)
    : inner_(std::move(inner)), trace_(std::move(trace)) {}

std::unique_ptr<Disk> TracingDiskSystem::Traced(std::unique_ptr<Disk> disk,
                                                const std::string& name) {
  // A failed open never reached a disk, so it is not a command and leaves no line.
  if (disk == nullptr) return nullptr;
  trace_->WriteLine("open " + EscapeName(name));
  return std::make_unique<TracingDisk>(std::move(disk), trace_);
}

std::unique_ptr<Disk> TracingDiskSystem::OpenPhysicalDrive(unsigned number, OpenFailure* why) {
  return Traced(inner_->OpenPhysicalDrive(number, why), std::to_string(number));
}

std::unique_ptr<Disk> TracingDiskSystem::OpenVolume(const std::string& volume, OpenFailure* why) {
  return Traced(inner_->OpenVolume(volume, why), volume);
}

std::vector<std::string> TracingDiskSystem::LogicalVolumes() {
  return inner_->LogicalVolumes();
}

DriveType TracingDiskSystem::VolumeDriveType(const std::string& volume) {
  return inner_->VolumeDriveType(volume);
}

std::string TracingDiskSystem::PhysicalDrivePath(unsigned number) {
  return inner_->PhysicalDrivePath(number);
}

std::unique_ptr<DiskSystem> WrapWithTraceFile(std::unique_ptr<DiskSystem> inner,
                                              const std::string& path, std::string* problem) {
  std::shared_ptr<TraceFile> trace = TraceFile::Open(path, problem);
  if (trace == nullptr) return inner;
  return std::make_unique<TracingDiskSystem>(std::move(inner), std::move(trace));
}

std::unique_ptr<DiskSystem> WrapWithTraceFromEnvironment(std::unique_ptr<DiskSystem> inner,
                                                         std::string* problem) {
  const char* path = std::getenv(kTraceEnvironmentVariable);
  if (path == nullptr || *path == '\0') return inner;
  return WrapWithTraceFile(std::move(inner), path, problem);
}

}  // namespace raid
