// What a crash leaves, put right at the next start: snapshot files without a row, and the
// files of an event whose removal was cut short.
#include "server/recovery.h"

#include <gtest/gtest.h>

#include <fstream>

#include "server/data_dir.h"
#include "server/event_removal.h"
#include "server/events.h"
#include "server/snapshot_store.h"
#include "server/test_support.h"

namespace corvantis::server {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using testing::PseudoRandomBytes;
using testing::ReadUploads;
using testing::SnapshotFiles;
using testing::StoreResults;
using testing::TempDir;
using testing::TestEpoch;

TEST(Recovery, FolderNamesAndFileNamesReadBackOnlyInTheSpellingTheServerWrites) {
  for (const std::string user : {"alice", ".hidden", "bob smith/..", "a%b", "\xff\x01zz"}) {
    EXPECT_EQ(UserOfFolder(UserFolderName(user)), user);
  }
  for (const char* folder : {"%2", "%zz", "%61lice", "%2e", "a%2Fb%", ".hidden"}) {
    EXPECT_FALSE(UserOfFolder(folder)) << folder;
  }
  EXPECT_EQ(TimeOfSnapshotName("20240501T120304.123456Z-000017.jpeg"),
            "2024-05-01T12:03:04.123456Z");
  for (const char* name :
       {".tmp-20240501T120304.123456Z-000017.jpeg", "20240501T120304.123456Z-.jpeg",
        "20240501T120304.123456Z-7.jpg", "20241301T120304.123456Z-7.jpeg",
        "20240501T120304.123456Z-7x.jpeg", "notes.txt"}) {
    EXPECT_FALSE(TimeOfSnapshotName(name)) << name;
  }
}

// Writes a finished snapshot file the way the store names it, without a row.
std::string Plant(const fs::path& dataDir, const std::string& user, TimePoint time,
                  const std::string& body) {
  std::string stamp;
  for (char c : FormatTime(time)) {
    if (c != '-' && c != ':') stamp += c;
  }
  const std::string file = "snapshots/" + UserFolderName(user) + "/" + stamp + "-000099.jpeg";
  fs::create_directories((dataDir / file).parent_path());
  std::ofstream(dataDir / file, std::ios::binary) << body;
  return file;
}

TEST(Recovery, EveryFinishedSnapshotWithoutARowIsRecordedUnacknowledgedWithItsEvent) {
  TempDir dir;
  PrepareDataDir(dir.path());
  ManualClock clock(TestEpoch());
  {
    SnapshotStore store(dir.path(), 8, 2, {&clock, nullptr, seconds(30)});
    StoreResults results;
    store.Submit({"alice", "127.0.0.1:1", "stored", results.Sink()});
    results.WaitFor(1);
  }
  // Left by a crash: one just after alice's stored upload, one of a new account much later,
  // and things that are not finished snapshots.
  const std::string late = Plant(dir.path(), "alice", TestEpoch() + seconds(5), "late one");
  const std::string other =
      Plant(dir.path(), "bob smith", TestEpoch() + hours(2), PseudoRandomBytes(333, 1));
  std::ofstream(dir.path() / "snapshots" / "alice" / ".tmp-20240501T120000.000000Z-1.jpeg") << "x";
  std::ofstream(dir.path() / "snapshots" / "alice" / "notes.txt") << "mine";

  std::vector<std::string> log;
  RecoverAtStart(dir.path(), seconds(30), [&](std::string_view line) { log.emplace_back(line); });
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.back().find("recorded 2 snapshots found without a row"), std::string::npos);

  const auto rows = ReadUploads(dir.path());
  ASSERT_EQ(rows.size(), 3u);
  Database db(dir.path() / Database::kFileName);
  const auto alice = ListEvents(db, std::string("alice"), 10);
  ASSERT_EQ(alice.size(), 1u);  // the late file joined the event it belongs to
  EXPECT_EQ(alice[0].count, 2);
  EXPECT_EQ(alice[0].end, TestEpoch() + seconds(5));
  const auto snapshots = EventSnapshots(db, alice[0].id);
  EXPECT_TRUE(snapshots[0].acknowledged);
  EXPECT_EQ(snapshots[1].file, late);
  EXPECT_FALSE(snapshots[1].acknowledged);
  EXPECT_EQ(snapshots[1].sha256, Sha256Hex("late one"));
  EXPECT_EQ(snapshots[1].size, 8);
  const auto bob = ListEvents(db, std::string("bob smith"), 10);
  ASSERT_EQ(bob.size(), 1u);
  EXPECT_EQ(bob[0].firstFile, other);
  EXPECT_EQ(bob[0].bytes, 333);

  // The temporary is gone, the stranger file stays; a second start finds nothing new.
  EXPECT_FALSE(
      fs::exists(dir.path() / "snapshots" / "alice" / ".tmp-20240501T120000.000000Z-1.jpeg"));
  EXPECT_TRUE(fs::exists(dir.path() / "snapshots" / "alice" / "notes.txt"));
  log.clear();
  RecoverAtStart(dir.path(), seconds(30), [&](std::string_view line) { log.emplace_back(line); });
  EXPECT_NE(log.back().find("recorded 0 snapshots"), std::string::npos);
  EXPECT_EQ(ReadUploads(dir.path()).size(), 3u);
}

TEST(Recovery, ARemovalCutShortAfterItsTransactionIsFinishedNotResurrected) {
  TempDir dir;
  PrepareDataDir(dir.path());
  ManualClock clock(TestEpoch());
  std::vector<std::string> files;
  {
    SnapshotStore store(dir.path(), 8, 2, {&clock, nullptr, seconds(30)});
    StoreResults results;
    for (int i = 0; i < 3; ++i) {
      store.Submit({"alice", "127.0.0.1:1", PseudoRandomBytes(10, i), results.Sink()});
    }
    for (const auto& result : results.WaitFor(3)) files.push_back(result.file);
  }
  // What RemoveEvent's transaction does, then a crash before the files are deleted.
  {
    Database db(dir.path() / Database::kFileName);
    db.Exec(
        "BEGIN; INSERT INTO removed_files SELECT file FROM uploads;"
        " DELETE FROM uploads; DELETE FROM events; COMMIT");
  }
  EXPECT_EQ(SnapshotFiles(dir.path()).size(), 3u);
  RecoverAtStart(dir.path(), seconds(30), {});
  EXPECT_TRUE(SnapshotFiles(dir.path()).empty());  // deleted, not recorded as found
  EXPECT_TRUE(ReadUploads(dir.path()).empty());
  Database db(dir.path() / Database::kFileName);
  Statement left(db.handle(), "SELECT count(*) FROM removed_files");
  ASSERT_TRUE(left.Step());
  EXPECT_EQ(left.ColumnInt(0), 0);
}

TEST(Recovery, RemovingAnEventTakesItsFilesAndRowsButNeverAnOpenEventOrAForeignPath) {
  TempDir dir;
  PrepareDataDir(dir.path());
  ManualClock clock(TestEpoch());
  EventHub hub;
  testing::NoticeLog notices(hub);
  SnapshotStore store(dir.path(), 8, 2, {&clock, &hub, seconds(30)});
  StoreResults results;
  store.Submit({"alice", "127.0.0.1:1", "one", results.Sink()});
  results.WaitFor(1);
  const int64_t id = notices.WaitFor(Notice::Kind::kEventOpened, 1)[0].event.id;
  Database db(dir.path() / Database::kFileName);
  EXPECT_FALSE(RemoveEvent(db, dir.path(), id));  // still open
  EXPECT_EQ(SnapshotFiles(dir.path()).size(), 1u);

  clock.Advance(seconds(31));
  notices.WaitFor(Notice::Kind::kEventClosed, 1);
  const auto removed = RemoveEvent(db, dir.path(), id);
  ASSERT_TRUE(removed);
  EXPECT_EQ(removed->count, 1);
  EXPECT_TRUE(SnapshotFiles(dir.path()).empty());
  EXPECT_TRUE(ReadUploads(dir.path()).empty());
  EXPECT_FALSE(FindEvent(db, id));
  EXPECT_FALSE(RemoveEvent(db, dir.path(), id));

  // A path outside snapshots/ in the list is forgotten, never deleted.
  std::ofstream(dir.path() / "keep.txt") << "precious";
  db.Exec(
      "INSERT INTO removed_files VALUES('keep.txt'), ('snapshots/../keep.txt'),"
      " ('/etc/hostname')");
  EXPECT_EQ(FinishRemovals(db, dir.path()), 3);
  EXPECT_TRUE(fs::exists(dir.path() / "keep.txt"));
}

}  // namespace
}  // namespace corvantis::server
