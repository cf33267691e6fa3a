// A fresh temporary directory for a test that writes files, made the working directory.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace testsupport {

// Creates a new directory under the system's temporary directory and changes into it;
// gives its path (empty when it could not be made).
inline std::filesystem::path EnterScratchDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "corvantis-XXXXXX").string();
  if (!::mkdtemp(pattern.data()) || ::chdir(pattern.c_str()) != 0) return {};
  return pattern;
}

}  // namespace testsupport
