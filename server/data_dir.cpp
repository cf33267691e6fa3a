#include "server/data_dir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace corvantis::server {

namespace fs = std::filesystem;

fs::path DefaultDataDir() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg == '/') return fs::path(xdg) / "corvantis-server";
  const char* home = std::getenv("HOME");
  if (home && *home) return fs::path(home) / ".local" / "share" / "corvantis-server";
  throw std::runtime_error("neither XDG_DATA_HOME nor HOME is set; give --data DIR");
}

bool MakePrivateFolder(const fs::path& dir) {
  if (::mkdir(dir.c_str(), kPrivateFolderMode) != 0) {
    const int error = errno;
    if (error == EEXIST && fs::is_directory(dir)) return false;
    throw fs::filesystem_error("cannot create the folder", dir,
                               std::error_code(error, std::generic_category()));
  }
  // The umask may have taken bits away; the owner needs all three.
  if (::chmod(dir.c_str(), kPrivateFolderMode) != 0) {
    throw fs::filesystem_error("cannot set the mode of", dir,
                               std::error_code(errno, std::generic_category()));
  }
  return true;
}

int CreatePrivateFile(const fs::path& file, int flags) {
  const int fd =
      ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | flags, kPrivateFileMode);
  if (fd < 0) return -1;
  if (::fchmod(fd, kPrivateFileMode) != 0) {
    const int error = errno;
    ::close(fd);
    ::unlink(file.c_str());
    errno = error;
    return -1;
  }
  return fd;
}

void PrepareDataDir(const fs::path& given) {
  const fs::path dir = given.filename().empty() ? given.parent_path() : given;  // "data/"
  // The folders above are the user's; the data directory and what is in it are private.
  if (!dir.parent_path().empty()) fs::create_directories(dir.parent_path());
  MakePrivateFolder(dir);
  MakePrivateFolder(dir / "snapshots");
}

std::string UserFolderName(std::string_view user) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string folder;
  for (std::size_t i = 0; i < user.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(user[i]);
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '@' || (c == '.' && i > 0);
    if (plain) {
      folder += static_cast<char>(c);
    } else {
      folder += '%';
      folder += kHex[c >> 4];
      folder += kHex[c & 15];
    }
  }
  return folder;
}

fs::path ThumbnailFile(const fs::path& snapshot) {
  fs::path thumbnail = "thumbnails";
  auto part = snapshot.begin();
  if (part != snapshot.end()) ++part;  // past "snapshots"
  for (; part != snapshot.end(); ++part) thumbnail /= *part;
  return thumbnail;
}

DataDirLock::DataDirLock(const fs::path& dir) {
  const fs::path file = dir / "server.lock";
  fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) throw std::runtime_error("cannot open " + file.string());
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd_);
    throw std::runtime_error("another server is using " + dir.string());
  }
}

DataDirLock::~DataDirLock() {
  ::close(fd_);
}

}  // namespace corvantis::server
