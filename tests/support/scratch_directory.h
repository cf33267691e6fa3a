// A fresh temporary directory for a test that writes files, made the working directory for
// as long as the object lives and removed with everything in it afterwards.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace testsupport {

class ScratchDirectory {
 public:
  // Under the system's temporary directory, or under `base` when given.
  explicit ScratchDirectory(const std::filesystem::path& base = {}) {
    std::error_code error;
    std::filesystem::path parent =
        base.empty() ? std::filesystem::temp_directory_path(error) : base;
    std::string pattern = (parent / "corvantis-XXXXXX").string();
    if (::mkdtemp(pattern.data()) && ::chdir(pattern.c_str()) == 0) path_ = pattern;
  }
  ~ScratchDirectory() {
    if (path_.empty()) return;
    std::error_code error;
    std::filesystem::current_path(path_.parent_path(), error);
    std::filesystem::remove_all(path_, error);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // The directory; empty when it could not be made.
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace testsupport
