// Notifications must not slow the server down: 200 cameras, each on an account of its own,
// upload 40 KB snapshots with MQTT (a local mosquitto), a webhook (a local HTTP receiver)
// and a command all on, against runs of the same server with them all off. Off and on runs
// alternate, so the machine's noise falls on both alike; the medians are compared.
//
// With notifications on, every stored snapshot goes to the broker as its account's newest
// picture and every event's opening to all three receivers (200 events open in the first
// moments of each run). A subscriber takes the snapshots from the broker: the time from a
// snapshot's 250 reply at its camera to its arrival there is the notification's latency.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "bench/server_cameras.h"
#include "server/accounts.h"
#include "server/credentials.h"
#include "server/database.h"
#include "server/server.h"
#include "server/testkit/receivers.h"

namespace {

namespace fs = std::filesystem;
using namespace corvantis::server;
using namespace corvantis::server_bench;
using corvantis::server_bench::Clock;

constexpr auto kRunTime = std::chrono::seconds(4);
constexpr int kPairs = 3;
constexpr const char* kAddress = "127.0.78.1";
constexpr uint16_t kBrokerPort = 1883;

std::string CameraUser(int camera) {
  return "camera" + std::to_string(1000 + camera);
}

struct Arrival {
  std::pair<int, uint64_t> upload;
  Clock::time_point when;
};

// One run of all cameras against a fresh server; returns stored uploads a second.
double Run(bool notify, const std::string& webhook, std::mutex& mutex,
           std::vector<Arrival>& arrivals, std::vector<double>& latencies, int& failures) {
  char pattern[] = "/tmp/corvantis-notify-bench-XXXXXX";
  const fs::path dir = mkdtemp(pattern);
  {
    PrepareDataDir(dir);
    Database db(dir / Database::kFileName);
    Accounts accounts(db);
    const std::string hash = HashPassword("secret1", HashCost::kMinimal);
    Transaction transaction(db);
    for (int i = 0; i < kCameras; ++i) accounts.Add(CameraUser(i), hash);
    transaction.Commit();
  }
  Totals totals;
  double seconds = 0;
  {
    ServerOptions options;
    options.dataDir = dir;
    options.listenAddress = kAddress;
    options.port = 0;
    if (notify) {
      options.notify.mqtt.host = kAddress;
      options.notify.mqtt.port = kBrokerPort;
      options.notify.webhook.url = webhook;
      options.notify.command.command = ": \"$CORVANTIS_EVENT\"";
    }
    Server server(options);
    const auto endpoint = server.Start();
    {
      std::lock_guard lock(mutex);
      arrivals.clear();
    }
    asio::io_context io;
    const auto start = Clock::now();
    for (int i = 0; i < kCameras; ++i) {
      StartCamera(io, endpoint, i, CameraUser(i), "secret1", 40960, start + kRunTime, totals);
    }
    io.run();
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
  }
  if (notify) {
    std::lock_guard lock(mutex);
    for (const auto& arrival : arrivals) {
      const auto acked = totals.acknowledged.find(arrival.upload);
      if (acked == totals.acknowledged.end()) continue;
      latencies.push_back(
          std::chrono::duration<double, std::milli>(arrival.when - acked->second).count());
    }
  }
  failures +=
      totals.failures + static_cast<int>(totals.stored.size()) - CountIntact(dir, totals.stored);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return static_cast<double>(totals.stored.size()) / seconds;
}

void BM_ServerNotifications200Cameras(benchmark::State& state) {
  char pattern[] = "/tmp/corvantis-notify-broker-XXXXXX";
  const fs::path brokerDir = mkdtemp(pattern);
  testkit::MosquittoBroker broker(kAddress, kBrokerPort, brokerDir);
  broker.Start();
  testkit::HttpReceiver receiver(kAddress);
  testkit::MqttSubscriber subscriber(kAddress, kBrokerPort, "corvantis/+/snapshot");
  std::mutex mutex;
  std::vector<Arrival> arrivals;
  subscriber.OnMessage([&](const testkit::MqttSubscriber::Message& message) {
    std::lock_guard lock(mutex);
    arrivals.push_back({SnapshotOrigin(message.payload), message.arrived});
  });
  std::vector<double> off, on, latencies;
  int failures = 0;
  for (auto _ : state) {
    for (int pair = 0; pair < kPairs; ++pair) {
      off.push_back(Run(false, {}, mutex, arrivals, latencies, failures));
      on.push_back(Run(true, receiver.Url("/event"), mutex, arrivals, latencies, failures));
    }
  }
  const double offMedian = Percentile(off, 0.5), onMedian = Percentile(on, 0.5);
  state.counters["off_uploads_per_s"] = offMedian;
  state.counters["on_uploads_per_s"] = onMedian;
  state.counters["on_over_off"] = onMedian / offMedian;
  state.counters["mqtt_p50_ms"] = Percentile(latencies, 0.50);
  state.counters["mqtt_p99_ms"] = Percentile(latencies, 0.99);
  state.counters["mqtt_seen"] = static_cast<double>(latencies.size());
  state.counters["webhook_posts"] = static_cast<double>(receiver.Requests().size());
  state.counters["failed"] = failures;
  if (failures) state.SkipWithError("an upload failed or was not stored intact");
  std::error_code ec;
  fs::remove_all(brokerDir, ec);
}
// Runs off and on alternately (three pairs of four seconds); the goal is on_over_off >= 0.90.
BENCHMARK(BM_ServerNotifications200Cameras)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
