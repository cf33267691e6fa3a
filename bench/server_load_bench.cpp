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

#include "server/asio.h"

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

#include "bench/server_cameras.h"
#include "server/accounts.h"
#include "server/credentials.h"
#include "server/database.h"
#include "server/server.h"
#include "server/snapshot_store.h"

namespace {

namespace fs = std::filesystem;
using namespace corvantis::server;
using namespace corvantis::server_bench;
using corvantis::server_bench::Clock;

constexpr auto kRunTime = std::chrono::seconds(5);

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
        StartCamera(io, endpoint, i, "camera", "secret1", static_cast<std::size_t>(state.range(1)),
                    deadline, totals);
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
