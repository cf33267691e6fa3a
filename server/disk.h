// Small file-system calls the storage code shares.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include <unistd.h>

namespace corvantis::server {

// The calls that put data on disk, which can fail for reasons outside the server; a test may
// put another in place of one.
struct DiskCalls {
  int (*fsync)(int fd) = ::fsync;
  int (*fdatasync)(int fd) = ::fdatasync;
};

// Syncs a directory so the names created, renamed or deleted in it are on disk.
bool SyncDirectory(const std::filesystem::path& dir, const DiskCalls& disk = {});

// Bytes free for an unprivileged writer on the file system holding `path`, or nothing when
// it cannot be asked.
std::optional<uint64_t> FreeBytes(const std::filesystem::path& path);

// The whole content of `file`, read with as few calls as its size allows; nothing when it
// cannot be read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& file);

// Writes `data` to a new file `path` (mode 0600), synced to disk when `sync`; false, and no
// file left, when `path` exists or the file cannot be written whole.
bool WriteNewFile(const std::filesystem::path& path, const std::string& data, bool sync);

// True when `file` (relative to the data directory) names a snapshot file below snapshots/:
// no absolute path, no "..", nothing else of the data directory.
bool IsSnapshotPath(const std::filesystem::path& file);

}  // namespace corvantis::server
