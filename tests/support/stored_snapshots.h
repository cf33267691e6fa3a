// The snapshots the alarm server stored for one account, read from its data directory.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace testsupport {

// The finished snapshot files under `dataDir`/snapshots/`folder` (the account's folder name),
// leaving out temporary files still being written.
inline std::vector<std::filesystem::path> StoredSnapshots(const std::filesystem::path& dataDir,
                                                          const std::string& folder) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(dataDir / "snapshots" / folder, error)) {
    if (entry.path().extension() == ".jpeg" && entry.path().filename().string()[0] != '.') {
      files.push_back(entry.path());
    }
  }
  return files;
}

}  // namespace testsupport
