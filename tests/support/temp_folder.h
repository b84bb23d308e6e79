// SPDX-License-Identifier: GPL-2.0-or-later
// A test's own folder under the system's temporary folder: a name of its own from a prefix,
// created at once, and removed with all it holds when the object goes (quietly: a destructor
// does not throw). std::filesystem only, for the Windows build as well.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace raid::testing {

class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix) {
    // A folder left behind by an earlier run is not ours: another name.
    do {
      path_ = std::filesystem::temp_directory_path() /
              (prefix + std::to_string(std::random_device{}()));
    } while (!std::filesystem::create_directory(path_));
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Stands where a path is wanted.
  operator const std::filesystem::path&() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace raid::testing
