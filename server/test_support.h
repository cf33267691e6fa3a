// Helpers of the server's tests: temporary directories, per-test loopback addresses, a
// blocking client that reads one reply per receive, and a server running in-process.
#pragma once

#include "server/asio.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/credentials.h"
#include "server/event_hub.h"
#include "server/options.h"
#include "server/server.h"
#include "server/snapshot_store.h"

namespace corvantis::server::testing {

// A fresh directory under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A loopback address of this process alone, 127.a.b.c from the process id; `variant`
// gives further addresses of the same process.
std::string TestAddress(int variant = 0);

// A blocking TCP client bound to a chosen source address.
class Client {
 public:
  // `receiveBuffer`: the socket's receive buffer in bytes (0: the system's default), small
  // for a client that stops reading early.
  Client(const asio::ip::tcp::endpoint& server, const std::string& sourceAddress,
         int receiveBuffer = 0);
  // Sends all bytes.
  void Send(const std::string& bytes);
  // One receive of at most 1024 bytes, like the camera's client; "" when the server closed
  // the connection. Fails the test after ten seconds of silence.
  std::string Receive();
  // Sends a line (adding the line feed) and returns the reply.
  std::string Exchange(const std::string& line);
  // The client's own address, "127.x.y.z:port".
  std::string LocalAddress() const;
  // True once the server has closed the connection (without waiting).
  bool ClosedByServer();
  // Sends `bytes` one at a time, `pause` apart, until all are sent or the server closes
  // the connection; true when it closed it.
  bool TrickleUntilClosed(const std::string& bytes, std::chrono::milliseconds pause);
  int Handle() { return socket_.native_handle(); }

 private:
  asio::io_context io_;
  asio::ip::tcp::socket socket_;
};

// Sends a snapshot the way the camera does (one header, then the body in 1024-byte sends)
// and returns the reply to the body, or the refusal of the header.
std::string Upload(Client& client, const std::string& body);

// Adds an account, with the cheapest hash unless told, straight into the data directory's
// database.
void AddUser(const std::filesystem::path& dataDir, const std::string& name,
             const std::string& password, HashCost cost = HashCost::kMinimal);
// Removes an account the way `user remove` does.
void RemoveUser(const std::filesystem::path& dataDir, const std::string& name);

// An in-process server on this test's own loopback address, with a data directory of its
// own and a log that tests can wait on.
class TestServer {
 public:
  // `adjust` may change the options before the server starts.
  explicit TestServer(const std::function<void(ServerOptions&)>& adjust = {});
  ~TestServer();

  const asio::ip::tcp::endpoint& endpoint() const { return endpoint_; }
  const std::filesystem::path& dataDir() const { return dir_.path(); }
  std::unique_ptr<Client> Connect(int sourceVariant = 0) const;
  // Logs `user` in on a new connection; fails the test if the login is refused.
  std::unique_ptr<Client> LogIn(const std::string& user, const std::string& password) const;
  // Waits until a log line contains `text` (fails the test after ten seconds).
  std::string WaitForLog(const std::string& text);
  // Every log line so far.
  std::vector<std::string> Log();
  // Stops the server (its log stays readable).
  void Stop() { server_.reset(); }
  Server& server() { return *server_; }

 private:
  TempDir dir_;
  std::mutex mutex_;
  std::condition_variable logged_;
  std::vector<std::string> log_;
  std::unique_ptr<Server> server_;
  asio::ip::tcp::endpoint endpoint_;
};

// The rows of the uploads table, in order: user, size, sha256, client, file.
struct UploadRow {
  std::string user;
  int64_t size;
  std::string sha256;
  std::string client;
  std::string file;
};
std::vector<UploadRow> ReadUploads(const std::filesystem::path& dataDir);

std::string ReadFile(const std::filesystem::path& file);
// Collects the results of uploads submitted to a SnapshotStore and waits for them.
class StoreResults {
 public:
  std::function<void(StoreResult)> Sink();
  // Waits until `count` results have come (fails the test after ten seconds).
  std::vector<StoreResult> WaitFor(std::size_t count);

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  std::vector<StoreResult> results_;
};

// Records what an event hub publishes, and waits for it.
class NoticeLog {
 public:
  explicit NoticeLog(EventHub& hub);
  ~NoticeLog();
  // Waits until `count` notices of `kind` have come (fails the test after ten seconds) and
  // returns those notices.
  std::vector<Notice> WaitFor(Notice::Kind kind, std::size_t count);
  std::vector<Notice> All();

 private:
  EventHub& hub_;
  uint64_t subscription_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Notice> notices_;
};

// A point in time to start manual clocks at: 2024-05-01T12:00:00Z.
TimePoint TestEpoch();

// Deterministic bytes that look like nothing in particular.
std::string PseudoRandomBytes(std::size_t size, uint32_t seed);
// Every file under snapshots/, relative to the data directory, temporaries included.
std::vector<std::string> SnapshotFiles(const std::filesystem::path& dataDir);

}  // namespace corvantis::server::testing
