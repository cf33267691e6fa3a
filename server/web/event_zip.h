// An event's snapshots as one ZIP archive (libzip), for the gallery's download.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "server/clock.h"

namespace corvantis::server {

struct ZipEntry {
  std::string name;            // its name in the archive
  std::filesystem::path file;  // the file it is read from
  TimePoint time{};            // its time in the archive
};

// Writes the new file `archive` holding `entries` in order, each stored as it is: JPEG data
// does not get smaller, so compressing it would only cost time. The files are read while the
// archive is written. False, with `error` set and nothing left behind, when it cannot be
// written whole.
bool WriteZip(const std::filesystem::path& archive, const std::vector<ZipEntry>& entries,
              std::string& error);

}  // namespace corvantis::server
