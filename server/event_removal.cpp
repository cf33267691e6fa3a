#include "server/event_removal.h"

#include <unistd.h>

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "server/data_dir.h"
#include "server/disk.h"
#include "server/events.h"

namespace corvantis::server {

namespace fs = std::filesystem;

std::optional<EventSummary> RemoveEvent(Database& db, const fs::path& dataDir, int64_t id,
                                        const std::optional<std::string>& owner) {
  std::optional<EventSummary> event;
  {
    Transaction transaction(db);
    event = FindEvent(db, id);
    if (!event || event->open || (owner && event->user != *owner)) return std::nullopt;
    Statement list(
        db.handle(),
        "INSERT OR IGNORE INTO removed_files(file) SELECT file FROM uploads WHERE event=?");
    list.Bind(1, id);
    list.Step();
    Statement uploads(db.handle(), "DELETE FROM uploads WHERE event=?");
    uploads.Bind(1, id);
    uploads.Step();
    Statement row(db.handle(), "DELETE FROM events WHERE id=?");
    row.Bind(1, id);
    row.Step();
    transaction.Commit();
  }
  FinishRemovals(db, dataDir);
  return event;
}

int64_t FinishRemovals(Database& db, const fs::path& dataDir) {
  std::vector<std::string> files;
  {
    Statement list(db.handle(), "SELECT file FROM removed_files");
    while (list.Step()) files.push_back(list.ColumnText(0));
  }
  if (files.empty()) return 0;
  std::map<fs::path, bool> folders;  // folder -> synced
  std::vector<std::string> gone;
  for (const auto& file : files) {
    // The list only ever holds paths this server wrote; anything else is left alone.
    if (IsSnapshotPath(file)) {
      const fs::path path = dataDir / file;
      if (::unlink(path.c_str()) != 0 && errno != ENOENT) continue;  // tried again next time
      folders[path.parent_path()] = false;
      // A cached thumbnail goes with its picture; the cache needs no sync of its own.
      ::unlink((dataDir / ThumbnailFile(file)).c_str());
    }
    gone.push_back(file);
  }
  // The deletions must be on disk before the list forgets them, or a crash could bring a file
  // back without its row.
  for (auto& [folder, synced] : folders) synced = SyncDirectory(folder);
  Transaction transaction(db);
  Statement forget(db.handle(), "DELETE FROM removed_files WHERE file=?");
  for (const auto& file : gone) {
    if (IsSnapshotPath(file) && !folders[(dataDir / file).parent_path()]) continue;
    forget.Reset();
    forget.Bind(1, file);
    forget.Step();
  }
  transaction.Commit();
  return static_cast<int64_t>(gone.size());
}

}  // namespace corvantis::server
