#include "server/recovery.h"

#include <set>
#include <string>
#include <vector>

#include "server/clock.h"
#include "server/data_dir.h"
#include "server/disk.h"
#include "server/event_removal.h"
#include "server/events.h"
#include "server/log.h"
#include "server/snapshot_store.h"

namespace corvantis::server {

namespace fs = std::filesystem;

std::optional<std::string> UserOfFolder(std::string_view folder) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string user;
  for (std::size_t i = 0; i < folder.size(); ++i) {
    if (folder[i] != '%') {
      user += folder[i];
      continue;
    }
    if (i + 2 >= folder.size()) return std::nullopt;
    const int high = hex(folder[i + 1]), low = hex(folder[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    user += static_cast<char>(high * 16 + low);
    i += 2;
  }
  // Only the one spelling the server writes: every other one is not an account's folder.
  if (UserFolderName(user) != folder) return std::nullopt;
  return user;
}

std::optional<std::string> TimeOfSnapshotName(std::string_view name) {
  // 20240501T120304.123456Z-<n>.jpeg
  if (name.size() < 30 || !name.ends_with(".jpeg") || name[23] != '-') return std::nullopt;
  const std::string_view counter = name.substr(24, name.size() - 24 - 5);
  if (counter.empty()) return std::nullopt;
  for (char c : counter) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  const std::string_view s = name.substr(0, 23);
  std::string time;
  time.append(s.substr(0, 4)).append("-").append(s.substr(4, 2)).append("-");
  time.append(s.substr(6, 3)).append(s.substr(9, 2)).append(":").append(s.substr(11, 2));
  time.append(":").append(s.substr(13));
  if (!ParseTime(time)) return std::nullopt;
  return time;
}

int64_t RecordUnlistedSnapshots(Database& db, const fs::path& dataDir,
                                std::chrono::microseconds eventGap) {
  Transaction transaction(db);
  Statement known(db.handle(), "SELECT file FROM uploads WHERE user=?");
  Statement insert(db.handle(),
                   "INSERT INTO uploads(user, time, size, sha256, client, file, acknowledged)"
                   " VALUES(?, ?, ?, ?, '', ?, 0)");
  int64_t recorded = 0;
  std::error_code ec;
  for (const auto& folder : fs::directory_iterator(dataDir / "snapshots", ec)) {
    if (!folder.is_directory(ec)) continue;
    const std::string folderName = folder.path().filename().string();
    const auto user = UserOfFolder(folderName);
    if (!user) continue;
    std::set<std::string> listed;
    known.Reset();
    known.Bind(1, *user);
    while (known.Step()) listed.insert(known.ColumnText(0));
    for (const auto& entry : fs::directory_iterator(folder.path(), ec)) {
      const std::string name = entry.path().filename().string();
      const std::string file = "snapshots/" + folderName + "/" + name;
      const auto time = TimeOfSnapshotName(name);
      if (!time || !entry.is_regular_file(ec) || listed.contains(file)) continue;
      const auto body = ReadWholeFile(entry.path());
      if (!body) continue;
      insert.Reset();
      insert.Bind(1, *user);
      insert.Bind(2, *time);
      insert.Bind(3, static_cast<int64_t>(body->size()));
      insert.Bind(4, Sha256Hex(*body));
      insert.Bind(5, file);
      insert.Step();
      ++recorded;
    }
  }
  if (recorded) GroupLooseUploads(db, eventGap);
  transaction.Commit();
  return recorded;
}

void RecoverAtStart(const fs::path& dataDir, std::chrono::microseconds eventGap,
                    const LogSink& log) {
  Database db(dataDir / Database::kFileName, eventGap);
  if (db.versionFound() != kSchemaVersion) {
    Statement count(db.handle(), "SELECT count(*) FROM events");
    count.Step();
    WriteLog(log, "upgraded the data directory from version " + std::to_string(db.versionFound()) +
                      " to " + std::to_string(kSchemaVersion) + "; the uploads make " +
                      std::to_string(count.ColumnInt(0)) + " events");
  }
  RemoveStaleTemporaries(dataDir);
  if (const int64_t finished = FinishRemovals(db, dataDir)) {
    WriteLog(log, "finished removing " + std::to_string(finished) +
                      " snapshot files of events removed before a stop");
  }
  const int64_t recorded = RecordUnlistedSnapshots(db, dataDir, eventGap);
  WriteLog(log, "recorded " + std::to_string(recorded) +
                    " snapshots found without a row (never acknowledged)");
}

}  // namespace corvantis::server
