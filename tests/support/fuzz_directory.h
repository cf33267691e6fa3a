// A temporary directory for fuzz targets whose code writes files in the working directory. The
// target works in it during each input only: between inputs the fuzzer reads its corpus and
// writes what it finds relative to its own working directory. (A crash stops the target inside
// an input, so the fuzzer needs an absolute -artifact_prefix to keep the input that did it.)
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace fuzzsupport {

class FuzzDirectory {
 public:
  // Makes the directory under the system's temporary directory; it is removed at exit.
  static FuzzDirectory& Get() {
    static FuzzDirectory directory;
    return directory;
  }
  const std::filesystem::path& path() const { return path_; }

  // Works in the directory for as long as it lives.
  class Visit {
   public:
    Visit() : previous_(std::filesystem::current_path()) {
      std::filesystem::current_path(Get().path());
    }
    ~Visit() {
      std::error_code error;
      std::filesystem::current_path(previous_, error);
    }
    Visit(const Visit&) = delete;
    Visit& operator=(const Visit&) = delete;

   private:
    std::filesystem::path previous_;
  };

 private:
  FuzzDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "corvantis-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::abort();
    }
    path_ = pattern;
  }
  ~FuzzDirectory() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }

  std::filesystem::path path_;
};

}  // namespace fuzzsupport
