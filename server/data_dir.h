// The data directory and the names of things inside it.
//
// Layout of DATA_DIR (default $XDG_DATA_HOME/corvantis-server, else
// ~/.local/share/corvantis-server; created with mode 0700 when missing):
//
//   corvantis-server.db        SQLite database: accounts and one row per upload
//                              (database.h has the tables)
//   server.lock                held (flock) by the one `serve` that uses this directory
//   snapshots/<folder>/        one folder per account: the user name with every byte
//                              outside A-Z a-z 0-9 - _ @ and a leading '.' written as %XX
//                              (upper-case hex), so "bob smith" is "bob%20smith"
//   snapshots/<folder>/<time>-<n>.jpeg
//                              one file per stored upload, <time> the UTC time it was
//                              stored (20240501T120304.123456Z), <n> a counter
//   snapshots/<folder>/.tmp-*  an upload being written; never a finished snapshot, and
//                              removed when the server starts
//   thumbnails/<folder>/<time>-<n>.jpeg
//                              the web gallery's small copy of the snapshot of the same name,
//                              made when first asked for and remade whenever it is missing
//   web-tmp/                   the web gallery's files being made (ZIP downloads); emptied
//                              when the server starts
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace corvantis::server {

// $XDG_DATA_HOME/corvantis-server, else $HOME/.local/share/corvantis-server. Throws
// std::runtime_error when neither variable is set.
std::filesystem::path DefaultDataDir();

// Creates the data directory and its snapshots folder when missing (mode 0700). Throws
// std::filesystem::filesystem_error when it cannot.
void PrepareDataDir(const std::filesystem::path& dir);

// Everything the server creates is its own alone, whatever the umask: folders 0700, files
// 0600 (the database, its journal, the snapshots).
constexpr unsigned kPrivateFolderMode = 0700;
constexpr unsigned kPrivateFileMode = 0600;

// Creates the folder `dir` (its parent must exist) with mode 0700; false when it existed
// already. Throws std::filesystem::filesystem_error when it cannot.
bool MakePrivateFolder(const std::filesystem::path& dir);

// Creates the file `file`, which must not exist, with mode 0600 and opens it for writing
// with `flags` added; returns the descriptor, or -1 with errno set.
int CreatePrivateFile(const std::filesystem::path& file, int flags = 0);

// The folder name of an account's snapshots: safe as one path component for any name.
std::string UserFolderName(std::string_view user);

// The thumbnail of the snapshot `snapshot` ("snapshots/<folder>/<name>", relative to the data
// directory): "thumbnails/<folder>/<name>", relative to the data directory too.
std::filesystem::path ThumbnailFile(const std::filesystem::path& snapshot);

// An exclusive lock on DATA_DIR/server.lock for as long as the object lives, so two servers
// never write the same directory.
class DataDirLock {
 public:
  // Throws std::runtime_error when another process holds the lock.
  explicit DataDirLock(const std::filesystem::path& dir);
  ~DataDirLock();
  DataDirLock(const DataDirLock&) = delete;
  DataDirLock& operator=(const DataDirLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace corvantis::server
