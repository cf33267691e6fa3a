// Retention: old events go, the oldest go first when the disk runs low, and uploads are
// refused, naming the reason, only when nothing more can go.
#include "server/retention.h"

#include <gtest/gtest.h>

#include <atomic>

#include "server/data_dir.h"
#include "server/events.h"
#include "server/snapshot_store.h"
#include "server/test_support.h"

namespace corvantis::server {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using testing::PseudoRandomBytes;
using testing::SnapshotFiles;
using testing::StoreResults;
using testing::TempDir;
using testing::TestEpoch;

// Stores one upload of `user` of `size` bytes at the clock's time.
void Store(SnapshotStore& store, const std::string& user, std::size_t size) {
  StoreResults results;
  store.Submit(
      {user, "127.0.0.1:1", PseudoRandomBytes(size, static_cast<uint32_t>(size)), results.Sink()});
  ASSERT_TRUE(results.WaitFor(1).at(0).stored);
}

// The bytes of every snapshot file: a stand-in disk holding `capacity` bytes.
uint64_t StoredBytes(const fs::path& dataDir) {
  uint64_t total = 0;
  for (const auto& file : SnapshotFiles(dataDir)) total += fs::file_size(dataDir / file);
  return total;
}

TEST(Retention, RemovesWholeEventsOldestFirstByAgeThenForSpaceButNeverAnOpenOne) {
  TempDir dir;
  PrepareDataDir(dir.path());
  ManualClock clock(TestEpoch());
  {
    SnapshotStore store(dir.path(), 8, 2, {&clock, nullptr, seconds(30)});
    Store(store, "alice", 1000);  // event 1, day 0
    Store(store, "alice", 1000);
    clock.Advance(days(10));
    Store(store, "bob1", 3000);  // event 2, day 10
    clock.Advance(days(10));
    Store(store, "alice", 500);  // event 3, day 20
    clock.Advance(days(15));
    Store(store, "carl", 700);  // event 4, day 35: left open
  }
  Database db(dir.path() / Database::kFileName);
  // Close the others as a running server would have by now.
  db.Exec("UPDATE events SET open=0 WHERE user<>'carl'");
  std::vector<std::string> removed;
  auto record = [&](const EventSummary& event, const std::string& why) {
    removed.push_back(event.user + " " + std::to_string(event.count) + " " + why);
  };

  RetentionSettings settings;
  settings.keepDays = 30;
  settings.minFree = 0;
  auto result = Prune(db, dir.path(), settings, clock.Now(), record);
  EXPECT_EQ(result.events, 1);
  EXPECT_EQ(removed, std::vector<std::string>{"alice 2 older than 30 days"});
  EXPECT_EQ(StoredBytes(dir.path()), 4200u);

  // A disk of 4500 bytes of which 500 must stay free (300 are): bob's event, the oldest, goes.
  const uint64_t capacity = 4500;
  settings.keepDays = 0;
  settings.minFree = 500;
  settings.freeBytes = [&](const fs::path& path) -> std::optional<uint64_t> {
    return capacity - StoredBytes(path);
  };
  removed.clear();
  result = Prune(db, dir.path(), settings, clock.Now(), record);
  EXPECT_EQ(removed, std::vector<std::string>{"bob1 1 to keep 500 bytes free"});
  EXPECT_FALSE(result.diskFull);
  EXPECT_EQ(result.freeBytes, 3300u);

  // Asking for more than can be had: alice's last event goes, carl's open one stays.
  settings.minFree = 4300;
  removed.clear();
  result = Prune(db, dir.path(), settings, clock.Now(), record);
  EXPECT_EQ(removed, std::vector<std::string>{"alice 1 to keep 4300 bytes free"});
  EXPECT_TRUE(result.diskFull);
  EXPECT_EQ(SnapshotFiles(dir.path()).size(), 1u);
  const auto left = ListEvents(db, std::nullopt, 10);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].user, "carl");
}

TEST(Retention, UploadsAreRefusedNamingTheReasonOnlyWhileNothingMoreCanGo) {
  std::atomic<uint64_t> free{100};
  testing::TestServer server([&](ServerOptions& o) {
    o.retention.minFree = 1000;
    o.retention.freeBytes = [&](const fs::path&) -> std::optional<uint64_t> { return free.load(); };
  });
  testing::AddUser(server.dataDir(), "alice", "secret1");
  server.WaitForLog("no closed event left to remove; uploads are refused");
  auto client = server.LogIn("alice", "secret1");
  EXPECT_EQ(client->Exchange("DATA\n10"), "300 Server disk full; snapshot not stored.");
  EXPECT_TRUE(SnapshotFiles(server.dataDir()).empty());

  free = 5000;  // space came back (someone cleaned up): taken again at once
  client->Send("DATA\n10\n");
  EXPECT_EQ(client->Receive(), "354 Send 10 bytes.");
  client->Send("0123456789");
  EXPECT_TRUE(client->Receive().starts_with("250 Stored"));
}

}  // namespace
}  // namespace corvantis::server
