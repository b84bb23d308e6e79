// SPDX-License-Identifier: GPL-2.0-or-later
// A folder of its own for the files a fuzz target writes: one per process, removed at exit.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace raid::fuzz {

// `target` names the folder ("raidgui-fuzz-<target>-<pid>"); the first call makes it. The path
// is never destroyed, so that the exit handler can still use it after the static objects are
// gone.
inline const std::filesystem::path& ScratchFolder(const std::string& target) {
  static const std::filesystem::path* folder = nullptr;
  if (folder == nullptr) {
    folder =
        new std::filesystem::path(std::filesystem::temp_directory_path() /
                                  ("raidgui-fuzz-" + target + "-" + std::to_string(::getpid())));
    std::filesystem::create_directories(*folder);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*folder, ignored);
    });
  }
  return *folder;
}

}  // namespace raid::fuzz
