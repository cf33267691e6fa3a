// Durable storage of snapshots, driven directly.
#include "server/snapshot_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "server/data_dir.h"
#include "server/test_support.h"

namespace corvantis::server {
namespace {

namespace fs = std::filesystem;
using testing::PseudoRandomBytes;
using testing::ReadFile;
using testing::ReadUploads;
using testing::SnapshotFiles;
using testing::TempDir;
using Results = testing::StoreResults;

TEST(SnapshotStore, HexDigestIsSha256) {
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(SnapshotStore, StoresUploadsFromManyThreadsWholeAndRecorded) {
  TempDir dir;
  PrepareDataDir(dir.path());
  Results results;
  {
    SnapshotStore store(dir.path(), 8);
    std::vector<std::thread> submitters;
    for (int t = 0; t < 4; ++t) {
      submitters.emplace_back([&, t] {
        for (int i = 0; i < 25; ++i) {
          store.Submit({t % 2 ? "alice" : ".hidden", "127.0.0.1:" + std::to_string(t),
                        PseudoRandomBytes(100 + static_cast<std::size_t>(i), t * 100 + i),
                        results.Sink()});
        }
      });
    }
    for (auto& thread : submitters) thread.join();
    results.WaitFor(100);
  }
  std::set<std::string> files;
  for (const auto& result : results.WaitFor(100)) {
    ASSERT_TRUE(result.stored) << result.error;
    EXPECT_EQ(Sha256Hex(ReadFile(dir.path() / result.file)), result.sha256);
    files.insert(result.file);
  }
  EXPECT_EQ(files.size(), 100u);  // every upload has a file of its own
  const auto rows = ReadUploads(dir.path());
  ASSERT_EQ(rows.size(), 100u);
  for (const auto& row : rows) {
    EXPECT_TRUE(files.contains(row.file));
    EXPECT_EQ(row.file.starts_with("snapshots/alice/"), row.user == "alice");
    EXPECT_EQ(row.file.starts_with("snapshots/%2Ehidden/"), row.user == ".hidden");
  }
  EXPECT_EQ(SnapshotFiles(dir.path()).size(), 100u);  // no temporary file is left
}

TEST(SnapshotStore, ReportsAFailureAndKeepsNothingOfIt) {
  TempDir dir;
  PrepareDataDir(dir.path());
  // A plain file where bob's folder belongs: bob's snapshot cannot be written.
  std::ofstream(dir.path() / "snapshots" / "bob1") << "in the way";
  Results results;
  {
    SnapshotStore store(dir.path(), 16);
    store.Submit({"bob1", "127.0.0.1:1", "body of bob", results.Sink()});
    store.Submit({"carl", "127.0.0.1:2", "body of carl", results.Sink()});
    results.WaitFor(2);
  }
  for (const auto& result : results.WaitFor(2)) {
    if (result.file.empty()) {
      EXPECT_FALSE(result.stored);
      EXPECT_FALSE(result.error.empty());
    } else {
      EXPECT_TRUE(result.stored);
      EXPECT_EQ(ReadFile(dir.path() / result.file), "body of carl");
    }
  }
  const auto rows = ReadUploads(dir.path());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].user, "carl");
}

// Syncs of snapshots/ seen, the first of which fails as a full or failing disk would.
std::atomic<int> snapshotsSyncs{0};
int FailFirstSnapshotsSync(int fd) {
  char path[4096];
  const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
  if (n > 0 && std::string(path, static_cast<std::size_t>(n)).ends_with("/snapshots") &&
      snapshotsSyncs++ == 0) {
    errno = EIO;
    return -1;
  }
  return ::fsync(fd);
}

TEST(SnapshotStore, SyncsANewFolderIntoSnapshotsEvenAfterAFailedFirstSync) {
  TempDir dir;
  PrepareDataDir(dir.path());
  Results results;
  SnapshotStore store(dir.path(), 4, 2, {}, DiskCalls{FailFirstSnapshotsSync, ::fdatasync});
  store.Submit({"alice", "127.0.0.1:1", "first", results.Sink()});
  const StoreResult first = results.WaitFor(1)[0];
  EXPECT_FALSE(first.stored);
  EXPECT_NE(first.error.find("sync snapshots"), std::string::npos);
  // The folder exists now, but its name may not be on disk: the next upload syncs it in.
  store.Submit({"alice", "127.0.0.1:1", "second", results.Sink()});
  const StoreResult second = results.WaitFor(2)[1];
  EXPECT_TRUE(second.stored) << second.error;
  EXPECT_EQ(snapshotsSyncs, 2);
  store.Submit({"alice", "127.0.0.1:1", "third", results.Sink()});
  results.WaitFor(3);
  EXPECT_EQ(snapshotsSyncs, 2);  // once synced, never again
  EXPECT_EQ(ReadUploads(dir.path()).size(), 2u);
}

TEST(SnapshotStore, RemovesTemporariesLeftBehindAndRefusesWorkAfterStop) {
  TempDir dir;
  PrepareDataDir(dir.path());
  fs::create_directory(dir.path() / "snapshots" / "alice");
  std::ofstream(dir.path() / "snapshots" / "alice" / ".tmp-interrupted.jpeg") << "half";
  std::ofstream(dir.path() / "snapshots" / "alice" / "kept.jpeg") << "whole";
  SnapshotStore store(dir.path(), 4);
  EXPECT_EQ(SnapshotFiles(dir.path()), std::vector<std::string>{"snapshots/alice/kept.jpeg"});

  store.Stop();
  Results results;
  store.Submit({"alice", "127.0.0.1:1", "late", results.Sink()});
  EXPECT_FALSE(results.WaitFor(1)[0].stored);
  EXPECT_TRUE(ReadUploads(dir.path()).empty());
}

}  // namespace
}  // namespace corvantis::server
