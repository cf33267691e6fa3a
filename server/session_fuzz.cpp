// Fuzzes the server's session with arbitrary bytes in arbitrary pieces, over loopback TCP, with
// real password checks (argon2id at its lowest cost) and real storage in a temporary data
// directory holding two accounts.
//
// Input: byte 0 holds the number k (low four bits) of cut bytes that follow it, and whether the
// client ends by closing its sending side (bit 4) or by hanging up. Bytes 1 to k are the sizes
// of the pieces, taken in turn; a size of 0 hangs up and starts a new connection. The rest of
// the input is what the client sends. After each piece the harness lets the session run until
// it has read everything sent or has nothing more it can do, so each piece reaches it on its
// own. A connection that the server has ended is replaced by a new one for the next piece.
//
// Checked: the server only welcomes an account after that account's name and password lines
// were sent; a stored snapshot lies in the folder of the account logged in on that connection;
// every session ends once its client is gone.
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/accounts.h"
#include "server/asio.h"
#include "server/body_budget.h"
#include "server/client_key.h"
#include "server/connection_table.h"
#include "server/credentials.h"
#include "server/data_dir.h"
#include "server/database.h"
#include "server/login_gate.h"
#include "server/login_throttle.h"
#include "server/password_checker.h"
#include "server/session.h"
#include "server/snapshot_store.h"
#include "tests/support/fuzz_directory.h"

namespace corvantis::server {
namespace {

struct Account {
  const char* name;
  const char* password;
};
constexpr Account kAccounts[] = {{"alice", "secret1"}, {"bob smith", "hunter22"}};
constexpr std::size_t kMaxSize = 2000;  // the largest snapshot: small enough for an input
constexpr int kMostConnections = 8;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "session: %s\n", what.c_str());
  std::abort();
}

// What lives as long as the fuzzer: the data directory, the stores and the loopback listener.
struct Harness {
  ServerOptions options;
  std::unique_ptr<SnapshotStore> store;
  std::unique_ptr<PasswordChecker> checker;
  std::unique_ptr<Retention> retention;
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor{io};

  // Sessions alive, counted down by their destructors (on whichever thread drops them last).
  std::mutex mutex;
  std::condition_variable ended;
  int sessions = 0;
};
Harness* harness = nullptr;

// One client connection and the server's session for it.
class Connection {
 public:
  Connection(SessionServices& services, ConnectionTable& connections) {
    Harness& h = *harness;
    // The fuzzer's timer signal may interrupt a blocking call; it is simply made again (an
    // interrupted connect goes on by itself and is then in progress or done).
    error_code ec;
    do client_.connect(h.acceptor.local_endpoint(), ec);
    while (ec == asio::error::interrupted || ec == asio::error::already_started);
    if (ec && ec != asio::error::already_connected) Fail("connect: " + ec.message());
    client_.non_blocking(true);
    asio::ip::tcp::socket server(h.io);
    do h.acceptor.accept(server, ec);
    while (ec == asio::error::interrupted);
    if (ec) Fail("accept: " + ec.message());
    // A second descriptor of the server's socket, so the harness can ask how many bytes wait
    // unread whether or not the session has closed its own.
    watch_ = ::dup(server.native_handle());
    {
      std::lock_guard lock(h.mutex);
      ++h.sessions;
    }
    // Counted as the server counts a connection it accepts.
    const std::string client = ClientKey(server.remote_endpoint().address());
    ConnectionPlace place;
    if (connections.Enter(client, place) != ConnectionTable::Refusal::kNone) {
      Fail("a connection was refused its place");
    }
    auto session = std::make_shared<Session>(std::move(server), services, std::move(place), client);
    session_ = session;
    session->Start();
  }

  ~Connection() { ::close(watch_); }

  // Sends one piece and lets the session handle it.
  void Send(const char* bytes, std::size_t count) {
    error_code ec;
    client_.non_blocking(false);
    std::size_t sent = 0;
    do sent += asio::write(client_, asio::buffer(bytes + sent, count - sent), ec);
    while (ec == asio::error::interrupted);
    client_.non_blocking(true);
    stream_.append(bytes, sent);
    Settle();
  }

  // True once the session has ended the connection (it may still wait for the client to go).
  bool Ended() const { return closedByServer_ || session_.expired(); }

  // Ends the client's side (closing only its sending side, or hanging up) and waits until
  // the session is gone.
  void Finish(bool halfClose) {
    error_code ec;
    if (halfClose) {
      client_.shutdown(asio::ip::tcp::socket::shutdown_send, ec);
    } else {
      ReadReplies();
      client_.close(ec);
    }
    while (!session_.expired()) {
      harness->io.restart();
      harness->io.run_one();
      if (halfClose) ReadReplies();
    }
    ReadReplies();
    Check();
  }

 private:
  // Runs the session until it has read every byte sent so far or cannot go on by itself.
  void Settle() {
    Harness& h = *harness;
    for (;;) {
      h.io.restart();
      const std::size_t ran = h.io.poll();
      ReadReplies();
      if (Ended() || Unread() == 0) return;
      // Bytes wait while the session is busy: with a password check or a store, which
      // reports back on the io_context.
      if (ran == 0) {
        h.io.restart();
        h.io.run_one();
      }
    }
  }

  int Unread() const {
    int count = 0;
    return ::ioctl(watch_, FIONREAD, &count) == 0 ? count : 0;
  }

  void ReadReplies() {
    char buffer[4096];
    error_code ec;
    for (;;) {
      const std::size_t n = client_.read_some(asio::buffer(buffer), ec);
      if (ec == asio::error::eof) closedByServer_ = true;
      if (ec || n == 0) return;
      replies_.append(buffer, n);
    }
  }

  // The replies against what the client sent: a welcome needs the account's own two lines
  // (a correct password), and a stored file lies in that account's folder.
  void Check() const {
    std::string user;
    for (std::size_t at = replies_.find("200 Welcome, "); at != std::string::npos;
         at = replies_.find("200 Welcome, ", at + 1)) {
      const std::size_t end = replies_.find(".", at + 13);
      user = replies_.substr(at + 13, end == std::string::npos ? std::string::npos : end - at - 13);
      bool known = false;
      for (const Account& account : kAccounts) {
        if (user == account.name &&
            (stream_.starts_with(user + "\n" + account.password + "\n") ||
             stream_.find("\n" + user + "\n" + account.password + "\n") != std::string::npos)) {
          known = true;
        }
      }
      if (!known) Fail("welcomed without the account's password: " + user);
    }
    for (std::size_t at = replies_.find("250 Stored "); at != std::string::npos;
         at = replies_.find("250 Stored ", at + 1)) {
      const std::string folder = "snapshots/" + UserFolderName(user) + "/";
      if (user.empty() || replies_.compare(at + 11, folder.size(), folder) != 0) {
        Fail("stored outside the folder of the account logged in");
      }
    }
  }

  asio::io_context clientIo_;
  asio::ip::tcp::socket client_{clientIo_};
  std::weak_ptr<Session> session_;
  int watch_ = -1;
  bool closedByServer_ = false;
  std::string stream_;   // what the client sent
  std::string replies_;  // what it received
};

}  // namespace
}  // namespace corvantis::server

using namespace corvantis::server;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  harness = new Harness();
  Harness& h = *harness;
  h.options.dataDir = fuzzsupport::FuzzDirectory::Get().path() / "data";
  h.options.maxSize = kMaxSize;
  h.options.loginCacheTime = std::chrono::seconds(0);  // every login is checked in full
  // Nothing is ever pruned, and a nearly full scratch file system refuses no upload.
  h.options.retention.keepDays = 0;
  h.options.retention.minFree = 0;
  PrepareDataDir(h.options.dataDir);
  {
    Database db(h.options.dataDir / Database::kFileName);
    Accounts accounts(db);
    for (const Account& account : kAccounts) {
      accounts.Add(account.name, HashPassword(account.password, HashCost::kMinimal));
    }
  }
  h.store = std::make_unique<SnapshotStore>(h.options.dataDir, h.options.maxBatch, 2);
  h.checker = std::make_unique<PasswordChecker>(h.options.dataDir, h.options.loginCacheTime);
  h.retention = std::make_unique<Retention>(h.options.dataDir, h.options.retention,
                                            *h.options.clock, h.options.log);
  const asio::ip::tcp::endpoint loopback(asio::ip::make_address("127.0.0.1"), 0);
  h.acceptor.open(loopback.protocol());
  h.acceptor.bind(loopback);
  h.acceptor.listen();
  std::atexit([] {
    harness->retention.reset();
    harness->checker.reset();
    harness->store.reset();
    delete harness;
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::size_t cuts = std::min<std::size_t>(data[0] & 15, size - 1);
  const bool halfClose = data[0] & 16;
  const uint8_t* pieces = data + 1;
  const char* stream = reinterpret_cast<const char*>(data + 1 + cuts);
  const std::size_t streamBytes = size - 1 - cuts;

  // A fresh throttle, gate, budget and connection table: nothing of an earlier input counts.
  const ServerOptions& options = harness->options;
  // The gate comes last, so that it goes first: its destructor joins its thread, which may
  // still be letting go of the last session (its budget and its place in the table).
  LoginThrottle throttle({options.loginFailureLimit, options.accountFailureLimit,
                          options.loginFailureWindow, options.throttleEntries});
  BodyBudget budget(options.maxSize);
  ConnectionTable table(kMostConnections, kMostConnections);
  LoginGate logins(throttle, *harness->checker,
                   {1, options.checksPerClient, options.checksWaiting});
  SessionServices services{
      options, *harness->store, logins, budget, *harness->retention, [](Session*) {
        std::lock_guard lock(harness->mutex);
        --harness->sessions;
        harness->ended.notify_all();
      }};

  std::unique_ptr<Connection> connection;
  int connections = 0;
  std::size_t at = 0;
  for (std::size_t piece = 0; at < streamBytes && connections <= kMostConnections; ++piece) {
    const std::size_t cut = cuts == 0 ? streamBytes : pieces[piece % cuts];
    if (connection && (cut == 0 || connection->Ended())) {
      connection->Finish(halfClose);
      connection.reset();
    }
    // A hang-up counts like a connection, so cuts of 0 alone end the input too.
    if (cut == 0) {
      ++connections;
      continue;
    }
    if (!connection) {
      if (++connections > kMostConnections) break;
      connection = std::make_unique<Connection>(services, table);
    }
    const std::size_t count = std::min(cut, streamBytes - at);
    connection->Send(stream + at, count);
    at += count;
  }
  if (connection) connection->Finish(halfClose);

  // Every session's destructor has finished before the services it uses go away (the last
  // one may run on a password or storage thread that still held the session).
  std::unique_lock lock(harness->mutex);
  harness->ended.wait(lock, [] { return harness->sessions == 0; });
  return 0;
}
