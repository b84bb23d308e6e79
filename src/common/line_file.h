// SPDX-License-Identifier: GPL-2.0-or-later
// A file that lines are appended to and read back from its end, held open: the day's log, which
// several programs share under a lock, and the protocol trace. One implementation per platform.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "common/platform_files.h"

namespace raid {

// Which file a handle has open, whatever name led to it.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
  bool operator==(const FileIdentity&) const = default;
};

class LineFile {
 public:
  enum class Use { kRead, kAppend };

  // Opens `path` without waiting on anything: a FIFO, a device or a folder is refused at once
  // with NotRegularFileText, and so is a symbolic link that ReplaceFileContents would refuse.
  // kAppend creates a missing file with `access`; one that root creates in a folder another user
  // owns is given to that user and the folder's group, so that their programs can append to it.
  static std::unique_ptr<LineFile> Open(const std::filesystem::path& path, Use use,
                                        FileAccess access, std::string& error);

  virtual ~LineFile() = default;

  // Takes the lock that other programs' Lock on the same file honours, waiting at most `wait`;
  // closing the file releases it.
  virtual bool Lock(std::chrono::milliseconds wait, std::string& error) = 0;
  virtual bool Identity(FileIdentity& identity, std::string& error) = 0;
  virtual bool Size(std::uint64_t& size, std::string& error) = 0;
  // Up to `length` bytes from `offset`; fewer only at the end of the file.
  virtual bool ReadAt(std::uint64_t offset, std::size_t length, std::string& bytes,
                      std::string& error) = 0;
  // All of `bytes` at the end of the file, in one write.
  virtual bool Append(std::string_view bytes, std::string& error) = 0;
  // Cuts the file back to `size`, as after a write that failed part way.
  virtual bool Truncate(std::uint64_t size, std::string& error) = 0;
  virtual bool Sync(std::string& error) = 0;
};

// The message for a lock that another program held for longer than a writer waits.
inline std::string HeldLockText(const std::filesystem::path& path) {
  return path.string() + " is held locked by another program";
}

}  // namespace raid
