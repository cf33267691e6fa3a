#include "server/disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

namespace corvantis::server {

bool SyncDirectory(const std::filesystem::path& dir, const DiskCalls& disk) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = disk.fsync(fd) == 0;
  ::close(fd);
  return ok;
}

std::optional<uint64_t> FreeBytes(const std::filesystem::path& path) {
  struct statvfs info {};
  if (::statvfs(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::string data;
  bool ok = ::fstat(fd, &info) == 0;
  if (ok) data.resize(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (ok) {
    // Reads past the size it had, in case the file grew.
    if (done == data.size()) data.resize(data.size() + 4096);
    const ssize_t n = ::read(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n >= 0;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (!ok) return std::nullopt;
  data.resize(done);
  return data;
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

bool WriteNewFile(const std::filesystem::path& path, const std::string& data, bool sync) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool ok = done == data.size() && (!sync || ::fsync(fd) == 0);
  if (::close(fd) != 0 || !ok) {
    ::unlink(path.c_str());
    return false;
  }
  return true;
}

}  // namespace corvantis::server
