// Events: opened and closed by the gap on a clock moved by hand, kept across restarts,
// grouped from an older data directory, and a newer one refused.
#include "server/events.h"

#include <gtest/gtest.h>

#include "server/data_dir.h"
#include "server/schema.h"
#include "server/snapshot_store.h"
#include "server/test_support.h"

namespace corvantis::server {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using testing::NoticeLog;
using testing::PseudoRandomBytes;
using testing::StoreResults;
using testing::TempDir;
using testing::TestEpoch;
using Kind = Notice::Kind;

// A store with its own manual clock and hub, and a way to upload one snapshot and wait.
struct Harness {
  TempDir dir;
  ManualClock clock{TestEpoch()};
  EventHub hub;
  NoticeLog notices{hub};
  std::unique_ptr<SnapshotStore> store;
  int uploads = 0;

  Harness() { Open(); }
  void Open() {
    PrepareDataDir(dir.path());
    store = std::make_unique<SnapshotStore>(dir.path(), 16, 4,
                                            EventSettings{&clock, &hub, seconds(30)});
  }
  StoreResult Upload(const std::string& user, std::size_t size = 100) {
    StoreResults results;
    store->Submit({user, "127.0.0.1:1", PseudoRandomBytes(size, ++uploads), results.Sink()});
    return results.WaitFor(1).at(0);
  }
  std::vector<EventSummary> Events(const std::string& user) {
    Database db(dir.path() / Database::kFileName);
    return ListEvents(db, user, 100);
  }
};

TEST(Events, OpenWithTheFirstSnapshotAndCloseWhenTheGapHasPassed) {
  Harness h;
  const StoreResult first = h.Upload("alice", 100);
  const auto opened = h.notices.WaitFor(Kind::kEventOpened, 1);
  EXPECT_EQ(opened[0].event.user, "alice");
  EXPECT_EQ(opened[0].event.count, 1);
  EXPECT_EQ(opened[0].event.start, TestEpoch());
  EXPECT_EQ(opened[0].event.firstFile, first.file);
  EXPECT_TRUE(opened[0].event.open);

  h.clock.Advance(seconds(10));
  h.Upload("bob smith");  // an event of its own, opened 10 s after alice's
  h.Upload("alice", 50);
  h.clock.Advance(seconds(30));  // alice's last was 30 s ago: a gap of exactly 30 s still joins
  h.Upload("alice", 25);
  auto stored = h.notices.WaitFor(Kind::kSnapshotStored, 4);
  EXPECT_EQ(stored[3].event.id, opened[0].event.id);
  EXPECT_EQ(stored[3].event.count, 3);
  EXPECT_EQ(stored[3].event.bytes, 175);
  EXPECT_NE(stored[1].event.id, opened[0].event.id);

  // bob's gap has passed now (30 s and 1 us after his only upload); alice's has not.
  h.clock.Advance(microseconds(1));
  auto closed = h.notices.WaitFor(Kind::kEventClosed, 1);
  EXPECT_EQ(closed[0].event.user, "bob smith");
  h.clock.Advance(seconds(30));
  closed = h.notices.WaitFor(Kind::kEventClosed, 2);
  EXPECT_EQ(closed[1].event.user, "alice");
  EXPECT_FALSE(closed[1].event.open);
  EXPECT_EQ(closed[1].event.count, 3);
  EXPECT_EQ(closed[1].event.end, TestEpoch() + seconds(40));

  // The next upload opens a new event; the rows say the same as the notices.
  h.Upload("alice");
  EXPECT_EQ(h.notices.WaitFor(Kind::kEventOpened, 3)[2].event.user, "alice");
  const auto events = h.Events("alice");
  ASSERT_EQ(events.size(), 2u);
  EXPECT_TRUE(events[0].open);
  EXPECT_EQ(events[0].count, 1);
  EXPECT_FALSE(events[1].open);
  EXPECT_EQ(events[1].count, 3);
  EXPECT_EQ(events[1].bytes, 175);
  EXPECT_EQ(events[1].firstFile, first.file);
  Database db(h.dir.path() / Database::kFileName);
  const auto snapshots = EventSnapshots(db, events[1].id);
  ASSERT_EQ(snapshots.size(), 3u);
  EXPECT_EQ(snapshots[0].file, first.file);
  EXPECT_EQ(snapshots[2].size, 25);
  EXPECT_TRUE(snapshots[2].acknowledged);
}

TEST(Events, AnEventLeftOpenAtAStopGoesOnOrClosesAfterTheRestart) {
  Harness h;
  h.Upload("alice");
  const int64_t id = h.notices.WaitFor(Kind::kEventOpened, 1)[0].event.id;
  h.store.reset();  // a stop with the event open
  EXPECT_TRUE(h.Events("alice").at(0).open);

  h.clock.Advance(seconds(20));
  h.Open();
  EXPECT_EQ(h.Upload("alice").stored, true);
  EXPECT_EQ(h.notices.WaitFor(Kind::kSnapshotStored, 2)[1].event.id, id);  // the same event
  h.store.reset();

  h.clock.Advance(minutes(5));
  h.Open();  // the gap passed while no server ran: closed at once
  const auto closed = h.notices.WaitFor(Kind::kEventClosed, 1);
  EXPECT_EQ(closed[0].event.id, id);
  EXPECT_EQ(closed[0].event.count, 2);
  EXPECT_EQ(closed[0].event.end, TestEpoch() + seconds(20));
}

// The layout of version 0, as the first servers wrote it.
void MakeVersion0(const fs::path& dataDir) {
  PrepareDataDir(dataDir);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dataDir / Database::kFileName).c_str(), &db), SQLITE_OK);
  const char* sql =
      "CREATE TABLE users(name TEXT PRIMARY KEY, hash TEXT NOT NULL, created TEXT NOT NULL);"
      "CREATE TABLE uploads(id INTEGER PRIMARY KEY, user TEXT NOT NULL, time TEXT NOT NULL,"
      " size INTEGER NOT NULL, sha256 TEXT NOT NULL, client TEXT NOT NULL, file TEXT NOT NULL);"
      "CREATE INDEX uploads_by_user ON uploads(user, time);"
      "INSERT INTO users VALUES('alice', 'hash', '2024-04-01T00:00:00.000000Z');"
      "INSERT INTO uploads(user, time, size, sha256, client, file) VALUES"
      " ('alice', '2024-05-01T12:00:00.000000Z', 10, 'a', 'c', 'snapshots/alice/1.jpeg'),"
      " ('alice', '2024-05-01T12:00:30.000000Z', 20, 'b', 'c', 'snapshots/alice/2.jpeg'),"
      " ('bob1', '2024-05-01T12:00:45.000000Z', 40, 'd', 'c', 'snapshots/bob1/1.jpeg'),"
      " ('alice', '2024-05-01T12:01:00.000001Z', 80, 'e', 'c', 'snapshots/alice/3.jpeg'),"
      " ('alice', '2024-05-01T12:01:10.000000Z', 160, 'f', 'c', 'snapshots/alice/4.jpeg');";
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

TEST(Events, AnOlderDataDirectoryIsUpgradedInPlaceWithItsUploadsGrouped) {
  TempDir dir;
  MakeVersion0(dir.path());
  Database db(dir.path() / Database::kFileName, seconds(30));
  EXPECT_EQ(db.versionFound(), 0);
  EXPECT_EQ(SchemaVersion(db), kSchemaVersion);

  // 12:00:00 and 12:00:30 are 30 s apart: one event; 12:01:00.000001 is 30 s and 1 us after.
  const auto alice = ListEvents(db, std::string("alice"), 10);
  ASSERT_EQ(alice.size(), 2u);
  EXPECT_EQ(alice[1].count, 2);
  EXPECT_EQ(alice[1].bytes, 30);
  EXPECT_EQ(alice[1].firstFile, "snapshots/alice/1.jpeg");
  EXPECT_EQ(FormatTime(alice[1].end), "2024-05-01T12:00:30.000000Z");
  EXPECT_EQ(alice[0].count, 2);
  EXPECT_EQ(alice[0].bytes, 240);
  EXPECT_FALSE(alice[0].open);  // events of an old directory are over
  EXPECT_EQ(ListEvents(db, std::string("bob1"), 10).at(0).count, 1);

  // Nothing stored is lost or renamed: every row is still there, each with its event.
  Statement rows(db.handle(), "SELECT count(*), count(event), sum(acknowledged) FROM uploads");
  ASSERT_TRUE(rows.Step());
  EXPECT_EQ(rows.ColumnInt(0), 5);
  EXPECT_EQ(rows.ColumnInt(1), 5);
  EXPECT_EQ(rows.ColumnInt(2), 5);
  Statement user(db.handle(), "SELECT hash FROM users WHERE name='alice'");
  ASSERT_TRUE(user.Step());
  EXPECT_EQ(user.ColumnText(0), "hash");

  // Opening it again changes nothing.
  Database again(dir.path() / Database::kFileName);
  EXPECT_EQ(again.versionFound(), kSchemaVersion);
  EXPECT_EQ(ListEvents(again, std::nullopt, 10).size(), 3u);
}

TEST(Events, ADataDirectoryOfANewerServerIsRefusedAndLeftAlone) {
  TempDir dir;
  MakeVersion0(dir.path());
  {
    Database db(dir.path() / Database::kFileName);
    db.Exec("PRAGMA user_version=7");
  }
  try {
    Database db(dir.path() / Database::kFileName);
    FAIL() << "opened a database of version 7";
  } catch (const std::runtime_error& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("newer corvantis-server"), std::string::npos) << message;
    EXPECT_NE(message.find("version 7"), std::string::npos) << message;
    EXPECT_NE(message.find("up to version " + std::to_string(kSchemaVersion)), std::string::npos);
  }
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open((dir.path() / Database::kFileName).c_str(), &raw), SQLITE_OK);
  sqlite3_stmt* version = nullptr;
  sqlite3_prepare_v2(raw, "PRAGMA user_version", -1, &version, nullptr);
  ASSERT_EQ(sqlite3_step(version), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(version, 0), 7);
  sqlite3_finalize(version);
  sqlite3_close(raw);
}

}  // namespace
}  // namespace corvantis::server
