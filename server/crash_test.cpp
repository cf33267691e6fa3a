// The real server and the real prune command killed with SIGKILL at random moments: nothing
// acknowledged is lost, no file is left without a row, no event is left half removed.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "server/data_dir.h"
#include "server/database.h"
#include "server/snapshot_store.h"
#include "server/test_support.h"
#include "server/testkit/child_process.h"

namespace corvantis::server {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using testing::PseudoRandomBytes;
using testing::ReadFile;
using testing::SnapshotFiles;
using testing::TempDir;
using testkit::ChildProcess;

std::vector<std::string> Command(std::vector<std::string> args) {
  args.insert(args.begin(), CORVANTIS_SERVER_BINARY);
  return args;
}

// The files the uploads table names, with their SHA-256.
std::map<std::string, std::string> RowFiles(const fs::path& dataDir) {
  std::map<std::string, std::string> files;
  for (const auto& row : testing::ReadUploads(dataDir)) files[row.file] = row.sha256;
  return files;
}

// Snapshot files on disk that no row names.
std::vector<std::string> FilesWithoutARow(const fs::path& dataDir) {
  const auto rows = RowFiles(dataDir);
  std::vector<std::string> lonely;
  for (const auto& file : SnapshotFiles(dataDir)) {
    if (!rows.contains(file)) lonely.push_back(file);
  }
  return lonely;
}

// The server on this test's address; returns its endpoint once it listens.
asio::ip::tcp::endpoint Serve(std::unique_ptr<ChildProcess>& server, const fs::path& data) {
  const std::string address = testing::TestAddress();
  server = std::make_unique<ChildProcess>(
      Command({"--data", data.string(), "serve", "--listen", address + ":0", "--web", "off"}));
  const std::string ready = server->ReadLine().value_or("");
  EXPECT_TRUE(ready.starts_with("listening on ")) << server->AllOf(ChildProcess::kErrors);
  return {asio::ip::make_address(address),
          static_cast<uint16_t>(std::stoi(ready.substr(ready.rfind(':') + 1)))};
}

TEST(Crash, EveryAcknowledgedUploadSurvivesKillsAndNoFileIsLeftWithoutARow) {
  TempDir dir;
  const fs::path data = dir.path() / "data";
  testing::AddUser(data, "alice", "secret1");
  testing::AddUser(data, "bob smith", "secret2");
  std::mt19937 random(static_cast<unsigned>(::getpid()));
  std::mutex mutex;
  std::condition_variable acknowledged;
  std::map<std::string, std::string> kept;  // file -> SHA-256 of every acknowledged upload
  int64_t recovered = 0;
  constexpr int kKills = 20, kClients = 6;

  for (int kill = 0; kill < kKills; ++kill) {
    std::unique_ptr<ChildProcess> server;
    const auto endpoint = Serve(server, data);
    // Whatever the last kill left, nothing on disk is without its row now.
    const auto found = server->WaitForLine(ChildProcess::kErrors, "snapshots found without a row");
    ASSERT_TRUE(found);
    recovered += std::stoll(found->substr(found->find("recorded ") + 9));
    ASSERT_EQ(FilesWithoutARow(data), std::vector<std::string>{}) << "after kill " << kill;

    std::atomic<bool> stop{false};
    std::size_t acknowledgedNow = 0;
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
      clients.emplace_back([&, c, seed = random()] {
        std::mt19937 sizes(seed);
        const bool bob = c % 2;
        try {
          for (int n = 0; !stop; ++n) {
            testing::Client client(endpoint, testing::TestAddress());
            client.Exchange(bob ? "bob smith" : "alice");
            if (!client.Exchange(bob ? "secret2" : "secret1").starts_with("200")) return;
            const std::string body = PseudoRandomBytes(1 + sizes() % 30000, seed + n);
            client.Send("DATA\n" + std::to_string(body.size()) + "\n");
            if (!client.Receive().starts_with("354")) return;
            client.Send(body);
            const std::string reply = client.Receive();
            if (!reply.starts_with("250 Stored ")) return;
            std::lock_guard lock(mutex);
            kept[reply.substr(11, reply.find(" (") - 11)] = Sha256Hex(body);
            ++acknowledgedNow;
            acknowledged.notify_all();
          }
        } catch (const std::exception&) {
          // The server is gone: this client's round is over.
        }
      });
    }
    {
      // Kill after a random number of acknowledgements, with other uploads in every stage.
      const std::size_t after = 1 + random() % 40;
      std::unique_lock lock(mutex);
      ASSERT_TRUE(
          acknowledged.wait_for(lock, seconds(20), [&] { return acknowledgedNow >= after; }));
    }
    server->Signal(SIGKILL);
    server->Wait();
    stop = true;
    for (auto& client : clients) client.join();
  }

  std::unique_ptr<ChildProcess> server;
  Serve(server, data);
  ASSERT_TRUE(server->WaitForLine(ChildProcess::kErrors, "snapshots found without a row"));
  EXPECT_EQ(FilesWithoutARow(data), std::vector<std::string>{});
  const auto rows = RowFiles(data);
  for (const auto& [file, sha] : kept) {
    EXPECT_EQ(rows.count(file), 1u) << file;
    EXPECT_EQ(Sha256Hex(ReadFile(data / file)), sha) << file;
    EXPECT_EQ(rows.count(file) ? rows.at(file) : "", sha) << file;
  }
  std::cout << kKills << " kills: " << kept.size() << " acknowledged uploads intact, "
            << rows.size() - kept.size() << " more stored, " << recovered
            << " of them found without a row and recorded\n";
}

TEST(Crash, PruningKilledHalfWayLeavesWholeEventsAndIsFinishedAtTheNextStart) {
  TempDir dir;
  const fs::path data = dir.path() / "data";
  PrepareDataDir(data);
  ManualClock clock(SystemClock().Now() - days(100));
  {
    // 40 events of 3 snapshots each, 100 days old.
    SnapshotStore store(data, 8, 2, {&clock, nullptr, seconds(30)});
    testing::StoreResults results;
    for (int i = 0; i < 120; ++i) {
      if (i % 3 == 0) clock.Advance(minutes(5));
      store.Submit({"alice", "127.0.0.1:1", PseudoRandomBytes(2000, i), results.Sink()});
      results.WaitFor(static_cast<std::size_t>(i + 1));
    }
  }
  Database(data / Database::kFileName).Exec("UPDATE events SET open=0");

  std::mt19937 random(static_cast<unsigned>(::getpid()));
  for (int kill = 0; kill < 5; ++kill) {
    ChildProcess prune(Command({"--data", data.string(), "prune", "--min-free", "0"}));
    const int after = 1 + static_cast<int>(random() % 5);
    for (int line = 0; line < after; ++line) ASSERT_TRUE(prune.ReadLine());
    prune.Signal(SIGKILL);
    prune.Wait();

    // Every event left is whole; a file without a row is one of a removal to be finished.
    Database db(data / Database::kFileName);
    Statement whole(db.handle(),
                    "SELECT count(*) FROM events e WHERE e.count <>"
                    " (SELECT count(*) FROM uploads u WHERE u.event = e.id)");
    ASSERT_TRUE(whole.Step());
    EXPECT_EQ(whole.ColumnInt(0), 0);
    std::set<std::string> pending;
    Statement listed(db.handle(), "SELECT file FROM removed_files");
    while (listed.Step()) pending.insert(listed.ColumnText(0));
    for (const auto& file : FilesWithoutARow(data)) EXPECT_TRUE(pending.contains(file)) << file;
    for (const auto& [file, sha] : RowFiles(data)) EXPECT_TRUE(fs::exists(data / file)) << file;
  }
  std::unique_ptr<ChildProcess> server;
  Serve(server, data);  // a start finishes what the kills cut short, and prunes the rest
  ASSERT_TRUE(server->WaitForLine(ChildProcess::kErrors, "recorded 0 snapshots"));
  server->Signal(SIGTERM);
  EXPECT_EQ(server->Wait(), 0);
  EXPECT_EQ(FilesWithoutARow(data), std::vector<std::string>{});
  EXPECT_TRUE(RowFiles(data).empty());  // every event was 100 days old
  Database db(data / Database::kFileName);
  Statement listed(db.handle(), "SELECT count(*) FROM removed_files");
  ASSERT_TRUE(listed.Step());
  EXPECT_EQ(listed.ColumnInt(0), 0);
}

}  // namespace
}  // namespace corvantis::server
