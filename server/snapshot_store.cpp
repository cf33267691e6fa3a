#include "server/snapshot_store.h"

#include <fcntl.h>
#include <sodium.h>
#include <stdio.h>
#include <unistd.h>
#include "server/asio.h"

#include <cerrno>
#include <cstring>
#include <map>

#include "server/credentials.h"
#include "server/data_dir.h"
#include "server/disk.h"

namespace corvantis::server {

namespace fs = std::filesystem;

namespace {

std::string ErrnoText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string Sha256Hex(std::string_view data) {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(data.data()), data.size());
  char hex[crypto_hash_sha256_BYTES * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
  return hex;
}

struct SnapshotStore::Item {
  StoreRequest request;
  StoreResult result;
  TimePoint when{};
  std::string time;  // `when` as stored
  fs::path folder;
  fs::path temp;   // absolute path of the temporary file while it exists
  fs::path final;  // absolute path once renamed
  int fd = -1;
  bool ok = true;

  void Fail(std::string why) {
    if (!ok) return;
    ok = false;
    result.error = std::move(why);
  }
  // Removes whatever file this upload left.
  void Discard() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    if (!temp.empty()) ::unlink(temp.c_str());
    if (!final.empty()) ::unlink(final.c_str());
    temp.clear();
    final.clear();
  }
};

void RemoveStaleTemporaries(const fs::path& dataDir) {
  std::error_code ec;
  for (const auto& folder : fs::directory_iterator(dataDir / "snapshots", ec)) {
    if (!folder.is_directory(ec)) continue;
    for (const auto& file : fs::directory_iterator(folder.path(), ec)) {
      if (file.path().filename().string().starts_with(".tmp-")) fs::remove(file.path(), ec);
    }
  }
}

SnapshotStore::SnapshotStore(const fs::path& dataDir, std::size_t maxBatch, int syncThreads,
                             EventSettings events, DiskCalls disk)
    : dataDir_(dataDir),
      maxBatch_(maxBatch ? maxBatch : 1),
      events_(events),
      disk_(disk),
      syncPool_(static_cast<std::size_t>(syncThreads > 0 ? syncThreads : 1)),
      db_(dataDir / Database::kFileName, events.gap),
      insert_(db_.handle(),
              "INSERT INTO uploads(user, time, size, sha256, client, file, event)"
              " VALUES(?,?,?,?,?,?,?)"),
      book_(db_, events.gap) {
  InitSodium();
  RemoveStaleTemporaries(dataDir_);
  book_.Load();
  committer_ = std::thread([this] { Run(); });
}

SnapshotStore::~SnapshotStore() {
  Stop();
}

void SnapshotStore::Submit(StoreRequest request) {
  {
    std::lock_guard lock(mutex_);
    if (!stopping_) {
      ++writing_;
      auto item = std::make_unique<Item>();
      item->request = std::move(request);
      asio::post(syncPool_, [this, item = std::move(item)]() mutable {
        item->when = events_.clock->Now();
        item->time = FormatTime(item->when);
        NameFile(*item);
        if (item->ok) WriteFile(*item);
        std::lock_guard lock(mutex_);
        --writing_;
        synced_.push_back(std::move(item));
        wake_.notify_one();
      });
      return;
    }
  }
  StoreResult result;
  result.error = "the server is stopping";
  request.done(std::move(result));
}

void SnapshotStore::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    wake_.notify_one();
  }
  if (committer_.joinable()) committer_.join();
  syncPool_.join();
}

void SnapshotStore::Run() {
  std::deque<std::unique_ptr<Item>> batch;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      // Events left open at a stop stay open: the next start closes them when they are due.
      while (synced_.empty()) {
        if (stopping_ && writing_ == 0) return;
        const TimePoint next = book_.NextClose();
        if (events_.clock->Now() >= next) break;
        events_.clock->WaitUntil(wake_, lock, next);
      }
      while (!synced_.empty() && batch.size() < maxBatch_) {
        batch.push_back(std::move(synced_.front()));
        synced_.pop_front();
      }
    }
    if (batch.empty()) {
      CloseDueEvents();
    } else {
      Commit(batch);
      batch.clear();
    }
  }
}

void SnapshotStore::CloseDueEvents() {
  std::vector<Notice> notices;
  try {
    Transaction transaction(db_);
    book_.CloseDue(events_.clock->Now(), notices);
    transaction.Commit();
  } catch (const std::exception&) {
    // Tried again on the next wake-up; the events stay open meanwhile.
    return;
  }
  if (events_.hub) events_.hub->Publish(notices);
}

void SnapshotStore::NameFile(Item& item) {
  const std::string folderName = UserFolderName(item.request.user);
  item.folder = dataDir_ / "snapshots" / folderName;
  std::unique_lock lock(foldersMutex_);
  if (!knownFolders_.contains(folderName)) {
    try {
      MakePrivateFolder(item.folder);
    } catch (const fs::filesystem_error& e) {
      return item.Fail(e.what());
    }
    // The folder's name is durable once snapshots/ is synced with it inside, whether this
    // upload made the folder or an earlier one did and then failed to sync it.
    if (!SyncDirectory(dataDir_ / "snapshots", disk_)) {
      return item.Fail(ErrnoText("sync snapshots"));
    }
    knownFolders_.insert(folderName);
  }
  lock.unlock();
  // 2024-05-01T12:03:04.123456Z -> 20240501T120304.123456Z
  std::string stamp;
  for (char c : item.time) {
    if (c != '-' && c != ':') stamp += c;
  }
  char counter[24];
  std::snprintf(counter, sizeof counter, "-%06llu", static_cast<unsigned long long>(++counter_));
  const std::string name = stamp + counter + ".jpeg";
  item.temp = item.folder / (".tmp-" + name);
  item.final = item.folder / name;
  item.result.file = "snapshots/" + folderName + "/" + name;
}

void SnapshotStore::WriteFile(Item& item) {
  item.fd = CreatePrivateFile(item.temp);
  if (item.fd < 0) {
    item.temp.clear();
    return item.Fail(ErrnoText("cannot create the snapshot file"));
  }
  if (!WriteAll(item.fd, item.request.body)) return item.Fail(ErrnoText("cannot write"));
  if (disk_.fdatasync(item.fd) != 0) return item.Fail(ErrnoText("cannot sync"));
  ::close(item.fd);
  item.fd = -1;
  item.result.sha256 = Sha256Hex(item.request.body);
}

void SnapshotStore::Commit(std::deque<std::unique_ptr<Item>>& batch) {
  std::map<fs::path, bool> folders;  // folder -> synced
  for (auto& item : batch) {
    if (!item->ok) continue;
    if (::renameat2(AT_FDCWD, item->temp.c_str(), AT_FDCWD, item->final.c_str(),
                    RENAME_NOREPLACE) != 0) {
      item->final.clear();
      item->Fail(ErrnoText("cannot rename"));
      continue;
    }
    item->temp.clear();
    folders[item->folder] = false;
  }
  for (auto& [folder, synced] : folders) synced = SyncDirectory(folder, disk_);
  for (auto& item : batch) {
    if (item->ok && !folders[item->folder]) item->Fail(ErrnoText("cannot sync the folder"));
  }
  const std::vector<Notice> notices = InsertRows(batch);
  for (auto& item : batch) {
    if (!item->ok) {
      item->Discard();
      item->result.file.clear();
    }
    item->result.stored = item->ok;
    item->request.done(std::move(item->result));
  }
  if (events_.hub) events_.hub->Publish(notices);
}

std::vector<Notice> SnapshotStore::InsertRows(std::deque<std::unique_ptr<Item>>& items) {
  std::vector<Notice> notices;
  const EventBook::State saved = book_.Save();
  try {
    Transaction transaction(db_);
    for (auto& item : items) {
      if (!item->ok) continue;
      const auto& user = item->request.user;
      const auto size = static_cast<int64_t>(item->request.body.size());
      const int64_t event = book_.EventFor(user, item->when, notices);
      insert_.Reset();
      insert_.Bind(1, user);
      insert_.Bind(2, item->time);
      insert_.Bind(3, size);
      insert_.Bind(4, item->result.sha256);
      insert_.Bind(5, item->request.client);
      insert_.Bind(6, item->result.file);
      insert_.Bind(7, event);
      insert_.Step();
      book_.Count(user, sqlite3_last_insert_rowid(db_.handle()), item->result.file, size,
                  item->when, notices);
    }
    insert_.Reset();
    // After the batch's own uploads, which may have kept an event open.
    book_.CloseDue(events_.clock->Now(), notices);
    book_.Flush();
    transaction.Commit();
  } catch (const std::exception& e) {
    insert_.Reset();
    book_.Restore(saved);
    notices.clear();
    for (auto& item : items) item->Fail(std::string("cannot record the upload: ") + e.what());
  }
  return notices;
}

}  // namespace corvantis::server
