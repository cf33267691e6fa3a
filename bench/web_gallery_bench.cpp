// The web gallery at scale and beside the cameras.
//
// Pages: the events page and an event's page for an account holding 100,000 snapshots in
// 5,000 events cost at most 1.5 times what they cost at 1,000 snapshots (50 events): every
// query runs on an index and reads a page, never a whole account. Each page is fetched over
// loopback from an in-process server, in turns between the two sizes; the medians of the
// wall times are compared.
//
// Live followers: 200 cameras upload as in the load benchmark while 20 browsers follow the
// live page of 20 of their accounts (each stored snapshot of those accounts goes out on a
// stream), against runs without followers; the uploads a second of both are compared.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_ratios.h"
#include "bench/server_cameras.h"
#include "server/accounts.h"
#include "server/clock.h"
#include "server/credentials.h"
#include "server/database.h"
#include "server/server.h"

namespace {

namespace fs = std::filesystem;
namespace beast = boost::beast;
namespace http = beast::http;
using namespace corvantis::server;
using namespace corvantis::server_bench;
using corvantis::server_bench::Clock;

constexpr const char* kAddress = "127.0.79.1";
constexpr int kSnapshotsPerEvent = 20;
constexpr int kFollowers = 20;
constexpr int kPairs = 3;
constexpr auto kRunTime = std::chrono::seconds(3);

fs::path TempDir(const char* name) {
  std::string pattern = std::string("/tmp/corvantis-") + name + "-XXXXXX";
  return mkdtemp(pattern.data());
}

// A server on a fresh data directory with these accounts (password "secret1"), the gallery
// on, and nothing removed by age or disk space.
std::unique_ptr<Server> StartServer(const fs::path& dir, const std::vector<std::string>& users,
                                    const std::function<void(Database&)>& fill = {},
                                    asio::ip::tcp::endpoint* alarm = nullptr) {
  PrepareDataDir(dir);
  {
    Database db(dir / Database::kFileName);
    Accounts accounts(db);
    const std::string hash = HashPassword("secret1", HashCost::kMinimal);
    Transaction transaction(db);
    for (const auto& user : users) accounts.Add(user, hash);
    if (fill) fill(db);
    transaction.Commit();
  }
  ServerOptions options;
  options.dataDir = dir;
  options.listenAddress = kAddress;
  options.port = 0;
  options.retention.keepDays = 0;
  options.retention.minFree = 0;
  options.web.enabled = true;
  options.web.address = kAddress;
  options.web.port = 0;
  auto server = std::make_unique<Server>(options);
  const auto endpoint = server->Start();
  if (alarm) *alarm = endpoint;
  return server;
}

// Rows of `events` events of kSnapshotsPerEvent snapshots for "owner", a minute apart.
void FillEvents(Database& db, int events) {
  Statement event(db.handle(),
                  "INSERT INTO events(id, user, start_time, end_time, count, bytes, first_upload,"
                  " open) VALUES (?, 'owner', ?, ?, ?, ?, ?, 0)");
  Statement upload(db.handle(),
                   "INSERT INTO uploads(id, user, time, size, sha256, client, file, event,"
                   " acknowledged) VALUES (?, 'owner', ?, 40960, ?, '127.0.0.1:1', ?, ?, 1)");
  const TimePoint epoch = ParseTime("2024-05-01T00:00:00.000000Z").value();
  int64_t id = 1;
  for (int e = 1; e <= events; ++e) {
    const TimePoint start = epoch + std::chrono::minutes(e);
    for (int s = 0; s < kSnapshotsPerEvent; ++s, ++id) {
      const std::string time = FormatTime(start + std::chrono::milliseconds(200 * s));
      upload.Reset();
      upload.Bind(1, id);
      upload.Bind(2, time);
      upload.Bind(3, std::string(64, 'a'));
      upload.Bind(4, "snapshots/owner/" + time + "-" + std::to_string(id) + ".jpeg");
      upload.Bind(5, int64_t{e});
      upload.Step();
    }
    event.Reset();
    event.Bind(1, int64_t{e});
    event.Bind(2, FormatTime(start));
    event.Bind(3, FormatTime(start + std::chrono::milliseconds(200 * (kSnapshotsPerEvent - 1))));
    event.Bind(4, int64_t{kSnapshotsPerEvent});
    event.Bind(5, int64_t{kSnapshotsPerEvent} * 40960);
    event.Bind(6, id - kSnapshotsPerEvent);
    event.Step();
  }
}

// A kept-alive HTTP connection to the gallery.
class Browser {
 public:
  explicit Browser(const asio::ip::tcp::endpoint& web) : socket_(io_) { socket_.connect(web); }

  http::response<http::string_body> Request(http::verb verb, const std::string& target,
                                            const std::string& cookie = "",
                                            const std::string& form = "") {
    http::request<http::string_body> request(verb, target, 11);
    request.set(http::field::host, kAddress);
    if (!cookie.empty()) request.set(http::field::cookie, "corvantis_session=" + cookie);
    if (verb == http::verb::post) {
      request.set(http::field::content_type, "application/x-www-form-urlencoded");
      request.body() = form;
    }
    request.prepare_payload();
    http::write(socket_, request);
    http::response<http::string_body> response;
    http::read(socket_, buffer_, response);
    return response;
  }

  // Signs in; the session id.
  std::string SignIn(const std::string& user) {
    const auto response =
        Request(http::verb::post, "/signin", "", "user=" + user + "&password=secret1");
    static const std::regex id("corvantis_session=([0-9a-f]{64})");
    std::smatch match;
    const std::string cookie(response[http::field::set_cookie]);
    return std::regex_search(cookie, match, id) ? std::string(match[1]) : "";
  }

  asio::ip::tcp::socket& socket() { return socket_; }

 private:
  asio::io_context io_;
  asio::ip::tcp::socket socket_;
  beast::flat_buffer buffer_;
};

struct Gallery {
  fs::path dir;
  std::unique_ptr<Server> server;
  std::unique_ptr<Browser> browser;
  std::string session;
  int middle = 0;  // an event in the middle of the account's history

  explicit Gallery(int events) : dir(TempDir("web-bench")), middle(events / 2) {
    server = StartServer(dir, {"owner"}, [&](Database& db) { FillEvents(db, events); });
    browser = std::make_unique<Browser>(*server->webEndpoint());
    session = browser->SignIn("owner");
  }
  ~Gallery() {
    browser.reset();
    server.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  // Wall time of one fetch of `target`, in microseconds; negative when it failed.
  double Fetch(const std::string& target) {
    const auto start = Clock::now();
    const auto response = browser->Request(http::verb::get, target, session);
    const double micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    return response.result_int() == 200 ? micros : -1;
  }
};

void BM_WebPagesAtScale(benchmark::State& state) {
  Gallery small(1000 / kSnapshotsPerEvent), large(100000 / kSnapshotsPerEvent);
  std::vector<double> times[2][2];  // [small, large][events page, event page]
  int failures = 0;
  for (auto _ : state) {
    for (int round = 0; round < 200; ++round) {
      for (int size = 0; size < 2; ++size) {
        Gallery& gallery = size ? large : small;
        const double list = gallery.Fetch("/events");
        const double event = gallery.Fetch("/events/" + std::to_string(gallery.middle));
        failures += (list < 0) + (event < 0);
        times[size][0].push_back(list);
        times[size][1].push_back(event);
      }
    }
  }
  const char* names[] = {"events_page", "event_page"};
  for (int page = 0; page < 2; ++page) {
    const double at1k = Percentile(times[0][page], 0.5), at100k = Percentile(times[1][page], 0.5);
    state.counters[std::string(names[page]) + "_1k_us"] = at1k;
    state.counters[std::string(names[page]) + "_100k_us"] = at100k;
    state.counters[std::string(names[page]) + "_100k_over_1k"] = at100k / at1k;
  }
  if (failures) state.SkipWithError("a page was not served");
}
BENCHMARK(BM_WebPagesAtScale)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// 20 live pages, each following one camera's account, read on a thread of their own.
class Followers {
 public:
  Followers(const asio::ip::tcp::endpoint& web, int count) {
    for (int i = 0; i < count; ++i) {
      auto browser = std::make_unique<Browser>(web);
      const std::string session = browser->SignIn("camera" + std::to_string(1000 + i));
      const std::string request =
          "GET /live/stream HTTP/1.1\r\nHost: x\r\nCookie: corvantis_session=" + session +
          "\r\n\r\n";
      asio::write(browser->socket(), asio::buffer(request));
      browsers_.push_back(std::move(browser));
    }
    thread_ = std::thread([this] {
      std::vector<char> buffer(1 << 16);
      std::vector<pollfd> fds;
      for (auto& browser : browsers_) fds.push_back({browser->socket().native_handle(), POLLIN, 0});
      while (!stop_) {
        if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
        for (auto& fd : fds) {
          if (!(fd.revents & POLLIN)) continue;
          const ssize_t n = ::read(fd.fd, buffer.data(), buffer.size());
          if (n > 0) bytes_ += static_cast<uint64_t>(n);
        }
      }
    });
  }
  ~Followers() {
    stop_ = true;
    thread_.join();
  }
  uint64_t bytes() const { return bytes_; }

 private:
  std::vector<std::unique_ptr<Browser>> browsers_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> bytes_{0};
  std::thread thread_;
};

double CameraRun(int followers, uint64_t& streamed, int& failures) {
  const fs::path dir = TempDir("web-live-bench");
  std::vector<std::string> users;
  for (int i = 0; i < kCameras; ++i) users.push_back("camera" + std::to_string(1000 + i));
  Totals totals;
  double seconds = 0;
  {
    asio::ip::tcp::endpoint alarm;
    auto server = StartServer(dir, users, {}, &alarm);
    std::unique_ptr<Followers> watching;
    if (followers) watching = std::make_unique<Followers>(*server->webEndpoint(), followers);
    asio::io_context io;
    const auto start = Clock::now();
    for (int i = 0; i < kCameras; ++i) {
      StartCamera(io, alarm, i, users[static_cast<std::size_t>(i)], "secret1", 40960,
                  start + kRunTime, totals);
    }
    io.run();
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (watching) streamed += watching->bytes();
  }
  failures +=
      totals.failures + static_cast<int>(totals.stored.size()) - CountIntact(dir, totals.stored);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return static_cast<double>(totals.stored.size()) / seconds;
}

void BM_WebLiveFollowersBesideCameras(benchmark::State& state) {
  std::vector<double> without, with;
  uint64_t streamed = 0;
  int failures = 0;
  for (auto _ : state) {
    for (int pair = 0; pair < kPairs; ++pair) {
      without.push_back(CameraRun(0, streamed, failures));
      with.push_back(CameraRun(kFollowers, streamed, failures));
    }
  }
  const double withoutMedian = Percentile(without, 0.5), withMedian = Percentile(with, 0.5);
  state.counters["without_uploads_per_s"] = withoutMedian;
  state.counters["with_uploads_per_s"] = withMedian;
  state.counters["with_over_without"] = withMedian / withoutMedian;
  state.counters["streamed_bytes"] = static_cast<double>(streamed);
  state.counters["failed"] = failures;
  if (failures) state.SkipWithError("an upload failed or was not stored intact");
  if (streamed == 0) state.SkipWithError("the live pages received nothing");
}
BENCHMARK(BM_WebLiveFollowersBesideCameras)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

const bool kGoals = [] {
  AddBenchCounterGoal("web: events page, 100,000 / 1,000 snapshots",
                      "BM_WebPagesAtScale/iterations:1/real_time", "events_page_100k_over_1k",
                      kAtMost, 1.5);
  AddBenchCounterGoal("web: event page, 100,000 / 1,000 snapshots",
                      "BM_WebPagesAtScale/iterations:1/real_time", "event_page_100k_over_1k",
                      kAtMost, 1.5);
  AddBenchCounterGoal("web: uploads a second, 20 live pages / none",
                      "BM_WebLiveFollowersBesideCameras/iterations:1/real_time",
                      "with_over_without", kAtLeast, 0.90);
  return true;
}();

}  // namespace
