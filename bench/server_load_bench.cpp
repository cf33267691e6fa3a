// Load on corvantis-server: 200 cameras uploading a 40 KB snapshot at once, again and again,
// against one in-process server on loopback whose every upload is synced to disk before it
// is acknowledged, with all its limits in force. Each camera speaks the whole exchange as the
// camera's client does: user name, password, header, body (in 1024-byte sends, or in one),
// QUIT; a new connection per upload, from an address of its own (127.77.x.y), as cameras in
// 200 homes would.
// Reports stored uploads per second and the time per upload (p50, p99), then checks every
// acknowledged upload against its row and its file (SHA-256).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "server/accounts.h"
#include "server/credentials.h"
#include "server/database.h"
#include "server/server.h"
#include "server/snapshot_store.h"

namespace {

namespace fs = std::filesystem;
using namespace corvantis::server;
using Clock = std::chrono::steady_clock;

constexpr int kCameras = 200;
constexpr std::size_t kSnapshotSize = 40 * 1024;
constexpr auto kRunTime = std::chrono::seconds(5);

// The snapshot a camera sends as its n-th upload: random bytes of the camera's own, the
// first of them replaced by the camera's number and the upload's, so every snapshot differs
// and a mix-up between uploads shows in the check.
std::string Snapshot(int camera, uint64_t n) {
  std::string body(kSnapshotSize, '\0');
  uint64_t x = static_cast<uint64_t>(camera) + 1;
  for (auto& b : body) {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    b = static_cast<char>(x >> 56);
  }
  std::memcpy(body.data(), &camera, sizeof camera);
  std::memcpy(body.data() + sizeof camera, &n, sizeof n);
  return body;
}

// The loopback address camera `id` connects from.
asio::ip::address_v4 CameraAddress(int id) {
  return asio::ip::address_v4(asio::ip::make_address_v4("127.77.0.1").to_uint() +
                              static_cast<uint32_t>(id));
}

struct Totals {
  std::vector<double> millis;                              // time of each stored upload
  std::map<std::string, std::pair<int, uint64_t>> stored;  // file -> camera, upload
  int failures = 0;
};

// One camera: uploads until the deadline, one connection per upload.
class Camera : public std::enable_shared_from_this<Camera> {
 public:
  Camera(asio::io_context& io, asio::ip::tcp::endpoint server, int id, std::size_t chunk,
         Clock::time_point deadline, Totals& totals)
      : socket_(io),
        server_(server),
        id_(id),
        chunk_(chunk),
        deadline_(deadline),
        totals_(totals) {}

  void Next() {
    if (Clock::now() >= deadline_) return;
    started_ = Clock::now();
    if (body_.empty()) body_ = Snapshot(id_, 0);
    ++count_;
    std::memcpy(body_.data() + sizeof id_, &count_, sizeof count_);
    socket_ = asio::ip::tcp::socket(socket_.get_executor());
    socket_.open(asio::ip::tcp::v4());
    socket_.bind(asio::ip::tcp::endpoint(CameraAddress(id_), 0));
    socket_.async_connect(server_, [self = shared_from_this()](std::error_code ec) {
      if (ec) return self->Fail();
      self->socket_.set_option(asio::ip::tcp::no_delay(true));
      self->step_ = 0;
      self->Say("camera\n");
    });
  }

 private:
  // Sends one piece and reads the reply to it.
  void Say(std::string text) {
    out_ = std::move(text);
    asio::async_write(socket_, asio::buffer(out_),
                      [self = shared_from_this()](std::error_code ec, std::size_t) {
                        if (ec) return self->Fail();
                        self->Listen();
                      });
  }
  void Listen() {
    socket_.async_read_some(asio::buffer(reply_),
                            [self = shared_from_this()](std::error_code ec, std::size_t n) {
                              if (ec) return self->Fail();
                              self->Heard(std::string(self->reply_.data(), n));
                            });
  }
  void Heard(const std::string& reply) {
    if (reply.starts_with("300")) return Fail();
    switch (step_++) {
      case 0:
        return Say("secret1\n");
      case 1:
        return Say("DATA\n" + std::to_string(body_.size()) + "\n");
      case 2:
        sent_ = 0;
        return SendChunk();
      case 3:
        if (!reply.starts_with("250 Stored ")) return Fail();
        file_ = reply.substr(11, reply.find(" (") - 11);
        return Say("QUIT\n");
      default:
        totals_.millis.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - started_).count());
        totals_.stored[file_] = {id_, count_};
        socket_.close();
        return Next();
    }
  }
  void SendChunk() {
    const std::size_t n = std::min(chunk_, body_.size() - sent_);
    asio::async_write(socket_, asio::buffer(body_.data() + sent_, n),
                      [self = shared_from_this(), n](std::error_code ec, std::size_t) {
                        if (ec) return self->Fail();
                        self->sent_ += n;
                        if (self->sent_ < self->body_.size()) return self->SendChunk();
                        self->Listen();
                      });
  }
  void Fail() {
    ++totals_.failures;
    std::error_code ignored;
    socket_.close(ignored);
    Next();
  }

  asio::ip::tcp::socket socket_;
  asio::ip::tcp::endpoint server_;
  const int id_;
  const std::size_t chunk_;
  const Clock::time_point deadline_;
  Totals& totals_;
  Clock::time_point started_;
  std::string body_, out_, file_;
  std::array<char, 1024> reply_;
  std::size_t sent_ = 0;
  int step_ = 0;
  uint64_t count_ = 0;
};

std::string ReadWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Uploads whose row and file both carry the SHA-256 of what the camera sent.
int CountIntact(const fs::path& dataDir,
                const std::map<std::string, std::pair<int, uint64_t>>& sent) {
  Database db(dataDir / Database::kFileName);
  Statement rows(db.handle(), "SELECT file, sha256 FROM uploads");
  int intact = 0;
  while (rows.Step()) {
    const auto it = sent.find(rows.ColumnText(0));
    if (it == sent.end()) continue;
    const std::string sha = Sha256Hex(Snapshot(it->second.first, it->second.second));
    if (sha == rows.ColumnText(1) && Sha256Hex(ReadWhole(dataDir / it->first)) == sha) ++intact;
  }
  return intact;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

void BM_ServerLoad200Cameras(benchmark::State& state) {
  char pattern[] = "/tmp/corvantis-server-bench-XXXXXX";
  const fs::path dir = mkdtemp(pattern);
  {
    PrepareDataDir(dir);
    Database db(dir / Database::kFileName);
    Accounts(db).Add("camera", HashPassword("secret1", HashCost::kInteractive));
  }
  Totals totals;
  double seconds = 0;
  {
    ServerOptions options;
    options.dataDir = dir;
    options.listenAddress = "127.0.77.1";
    options.port = 0;
    options.ioThreads = static_cast<int>(state.range(0));
    Server server(options);
    const auto endpoint = server.Start();
    {
      // One login first: the full argon2id check, after which the verified cache answers.
      asio::io_context io;
      asio::ip::tcp::socket socket(io);
      socket.connect(endpoint);
      char reply[1024];
      for (const char* line : {"camera\n", "secret1\n", "QUIT\n"}) {
        asio::write(socket, asio::buffer(std::string(line)));
        socket.read_some(asio::buffer(reply));
      }
    }
    for (auto _ : state) {
      asio::io_context io;
      const auto start = Clock::now();
      const auto deadline = start + kRunTime;
      for (int i = 0; i < kCameras; ++i) {
        std::make_shared<Camera>(io, endpoint, i, static_cast<std::size_t>(state.range(1)),
                                 deadline, totals)
            ->Next();
      }
      io.run();
      seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
  }
  const int intact = CountIntact(dir, totals.stored);
  const double stored = static_cast<double>(totals.stored.size());
  state.counters["uploads_per_s"] = stored / seconds;
  state.counters["p50_ms"] = Percentile(totals.millis, 0.50);
  state.counters["p99_ms"] = Percentile(totals.millis, 0.99);
  state.counters["stored"] = stored;
  state.counters["intact"] = intact;
  state.counters["failed"] = totals.failures;
  if (intact != static_cast<int>(stored) || totals.failures) {
    state.SkipWithError("an acknowledged upload was not stored intact, or an upload failed");
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
}
// server_threads: the server's connection threads; chunk: the bytes of each body send (the
// camera's client sends 1024; one send of the whole body shows the server's own cost
// with less of the clients' beside it on the same two cores).
BENCHMARK(BM_ServerLoad200Cameras)
    ->ArgNames({"server_threads", "chunk"})
    ->Args({1, 1024})
    ->Args({2, 1024})
    ->Args({1, 40960})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
