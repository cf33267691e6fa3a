#include "server/disk.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace corvantis::server {

bool SyncDirectory(const std::filesystem::path& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

std::optional<uint64_t> FreeBytes(const std::filesystem::path& path) {
  struct statvfs info {};
  if (::statvfs(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

bool IsSnapshotPath(const std::filesystem::path& file) {
  if (file.is_absolute()) return false;
  auto part = file.begin();
  if (part == file.end() || *part != "snapshots") return false;
  int depth = 0;
  for (++part; part != file.end(); ++part) {
    if (*part == ".." || *part == "." || part->empty()) return false;
    ++depth;
  }
  return depth == 2;  // snapshots/<folder>/<file>
}

}  // namespace corvantis::server
