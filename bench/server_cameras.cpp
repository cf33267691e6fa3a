// The cameras of the server benchmarks: each speaks the whole exchange as the camera's
// client does, on one asio loop of the benchmark's own.
#include "bench/server_cameras.h"

#include "server/asio.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "server/database.h"
#include "server/snapshot_store.h"

namespace corvantis::server_bench {

namespace fs = std::filesystem;
using namespace corvantis::server;

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

namespace {

// The loopback address camera `id` connects from: one of its own, as cameras in as many
// homes would, so the limits per address are the server's, not the benchmark's.
asio::ip::address_v4 CameraAddress(int id) {
  return asio::ip::address_v4(asio::ip::make_address_v4("127.77.0.1").to_uint() +
                              static_cast<uint32_t>(id));
}

// One camera: uploads until the deadline, one connection per upload.
class Camera : public std::enable_shared_from_this<Camera> {
 public:
  Camera(asio::io_context& io, asio::ip::tcp::endpoint server, int id, std::string user,
         std::string password, std::size_t chunk, Clock::time_point deadline, Totals& totals)
      : socket_(io),
        server_(server),
        id_(id),
        user_(std::move(user)),
        password_(std::move(password)),
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
    socket_.async_connect(server_, [self = shared_from_this()](error_code ec) {
      if (ec) return self->Fail();
      self->socket_.set_option(asio::ip::tcp::no_delay(true));
      self->step_ = 0;
      self->Say(self->user_ + "\n");
    });
  }

 private:
  // Sends one piece and reads the reply to it.
  void Say(std::string text) {
    out_ = std::move(text);
    asio::async_write(socket_, asio::buffer(out_),
                      [self = shared_from_this()](error_code ec, std::size_t) {
                        if (ec) return self->Fail();
                        self->Listen();
                      });
  }
  void Listen() {
    socket_.async_read_some(asio::buffer(reply_),
                            [self = shared_from_this()](error_code ec, std::size_t n) {
                              if (ec) return self->Fail();
                              self->Heard(std::string(self->reply_.data(), n));
                            });
  }
  void Heard(const std::string& reply) {
    if (reply.starts_with("300")) return Fail();
    switch (step_++) {
      case 0:
        return Say(password_ + "\n");
      case 1:
        return Say("DATA\n" + std::to_string(body_.size()) + "\n");
      case 2:
        sent_ = 0;
        return SendChunk();
      case 3:
        if (!reply.starts_with("250 Stored ")) return Fail();
        totals_.acknowledged[{id_, count_}] = Clock::now();
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
                      [self = shared_from_this(), n](error_code ec, std::size_t) {
                        if (ec) return self->Fail();
                        self->sent_ += n;
                        if (self->sent_ < self->body_.size()) return self->SendChunk();
                        self->Listen();
                      });
  }
  void Fail() {
    ++totals_.failures;
    error_code ignored;
    socket_.close(ignored);
    Next();
  }

  asio::ip::tcp::socket socket_;
  asio::ip::tcp::endpoint server_;
  const int id_;
  const std::string user_, password_;
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

}  // namespace

void StartCamera(asio::io_context& io, asio::ip::tcp::endpoint server, int id, std::string user,
                 std::string password, std::size_t chunk, Clock::time_point deadline,
                 Totals& totals) {
  std::make_shared<Camera>(io, server, id, std::move(user), std::move(password), chunk, deadline,
                           totals)
      ->Next();
}

namespace {

std::string ReadWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

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

std::pair<int, uint64_t> SnapshotOrigin(std::string_view body) {
  int camera = -1;
  uint64_t n = 0;
  if (body.size() >= sizeof camera + sizeof n) {
    std::memcpy(&camera, body.data(), sizeof camera);
    std::memcpy(&n, body.data() + sizeof camera, sizeof n);
  }
  return {camera, n};
}

}  // namespace corvantis::server_bench
