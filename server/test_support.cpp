#include "server/test_support.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "server/asio.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "server/accounts.h"
#include "server/credentials.h"
#include "server/database.h"

namespace corvantis::server::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "corvantis-server-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TestAddress(int variant) {
  const unsigned pid = static_cast<unsigned>(getpid());
  const unsigned a = ((pid >> 16) + static_cast<unsigned>(variant) * 61) % 254 + 1;
  return "127." + std::to_string(a) + "." + std::to_string((pid >> 8) & 255) + "." +
         std::to_string(pid & 255);
}

Client::Client(const asio::ip::tcp::endpoint& server, const std::string& sourceAddress,
               int receiveBuffer)
    : socket_(io_) {
  socket_.open(asio::ip::tcp::v4());
  // Before connecting, so that the window offered to the server is small from the start.
  if (receiveBuffer > 0) socket_.set_option(asio::socket_base::receive_buffer_size(receiveBuffer));
  socket_.bind(asio::ip::tcp::endpoint(asio::ip::make_address(sourceAddress), 0));
  socket_.set_option(asio::ip::tcp::no_delay(true));
  // A silent server fails the test instead of hanging it.
  timeval timeout{10, 0};
  setsockopt(socket_.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  socket_.connect(server);
}

void Client::Send(const std::string& bytes) {
  asio::write(socket_, asio::buffer(bytes));
}

std::string Client::Receive() {
  char reply[1024];
  const ssize_t n = ::recv(socket_.native_handle(), reply, sizeof reply, 0);
  if (n < 0 && errno == EAGAIN) ADD_FAILURE() << "no reply within ten seconds";
  return n > 0 ? std::string(reply, static_cast<std::size_t>(n)) : std::string();
}

std::string Client::Exchange(const std::string& line) {
  Send(line + "\n");
  return Receive();
}

std::string Client::LocalAddress() const {
  const auto local = socket_.local_endpoint();
  return local.address().to_string() + ":" + std::to_string(local.port());
}

bool Client::ClosedByServer() {
  char byte;
  const ssize_t n = ::recv(socket_.native_handle(), &byte, 1, MSG_DONTWAIT | MSG_PEEK);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

bool Client::TrickleUntilClosed(const std::string& bytes, std::chrono::milliseconds pause) {
  for (char byte : bytes) {
    if (ClosedByServer() || ::send(socket_.native_handle(), &byte, 1, MSG_NOSIGNAL) != 1) {
      return true;
    }
    // The pace of a slow client, the very thing under test.
    std::this_thread::sleep_for(pause);
  }
  return ClosedByServer();
}

std::string Upload(Client& client, const std::string& body) {
  client.Send("DATA\n" + std::to_string(body.size()) + "\n");
  const std::string ready = client.Receive();
  if (ready != "354 Send " + std::to_string(body.size()) + " bytes.") return ready;
  for (std::size_t at = 0; at < body.size(); at += 1024) client.Send(body.substr(at, 1024));
  return client.Receive();
}

void AddUser(const fs::path& dataDir, const std::string& name, const std::string& password,
             HashCost cost) {
  PrepareDataDir(dataDir);
  Database db(dataDir / Database::kFileName);
  Accounts accounts(db);
  if (!accounts.Add(name, HashPassword(password, cost))) {
    throw std::runtime_error("user exists: " + name);
  }
}

void RemoveUser(const fs::path& dataDir, const std::string& name) {
  Database db(dataDir / Database::kFileName);
  if (!Accounts(db).Remove(name)) throw std::runtime_error("no user " + name);
}

TestServer::TestServer(const std::function<void(ServerOptions&)>& adjust) {
  ServerOptions options;
  options.dataDir = dir_.path();
  options.listenAddress = TestAddress();
  options.port = 0;
  options.log = [this](std::string_view line) {
    std::lock_guard lock(mutex_);
    log_.emplace_back(line);
    logged_.notify_all();
  };
  if (adjust) adjust(options);
  server_ = std::make_unique<Server>(options);
  endpoint_ = server_->Start();
}

TestServer::~TestServer() {
  server_.reset();
}

std::unique_ptr<Client> TestServer::Connect(int sourceVariant) const {
  return std::make_unique<Client>(endpoint_, TestAddress(sourceVariant));
}

std::unique_ptr<Client> TestServer::LogIn(const std::string& user,
                                          const std::string& password) const {
  auto client = Connect();
  EXPECT_EQ(client->Exchange(user), "331 Password, please.");
  EXPECT_EQ(client->Exchange(password), "200 Welcome, " + user + ".");
  return client;
}

std::string TestServer::WaitForLog(const std::string& text) {
  std::unique_lock lock(mutex_);
  std::string found;
  const bool seen = logged_.wait_for(lock, std::chrono::seconds(10), [&] {
    for (const auto& line : log_) {
      if (line.find(text) != std::string::npos) {
        found = line;
        return true;
      }
    }
    return false;
  });
  EXPECT_TRUE(seen) << "no log line with: " << text;
  return found;
}

std::vector<std::string> TestServer::Log() {
  std::lock_guard lock(mutex_);
  return log_;
}

std::vector<UploadRow> ReadUploads(const fs::path& dataDir) {
  Database db(dataDir / Database::kFileName);
  Statement select(db.handle(), "SELECT user, size, sha256, client, file FROM uploads ORDER BY id");
  std::vector<UploadRow> rows;
  while (select.Step()) {
    rows.push_back({select.ColumnText(0), select.ColumnInt(1), select.ColumnText(2),
                    select.ColumnText(3), select.ColumnText(4)});
  }
  return rows;
}

std::function<void(StoreResult)> StoreResults::Sink() {
  return [this](StoreResult result) {
    std::lock_guard lock(mutex_);
    results_.push_back(std::move(result));
    done_.notify_all();
  };
}

std::vector<StoreResult> StoreResults::WaitFor(std::size_t count) {
  std::unique_lock lock(mutex_);
  EXPECT_TRUE(
      done_.wait_for(lock, std::chrono::seconds(10), [&] { return results_.size() >= count; }))
      << "only " << results_.size() << " of " << count << " uploads came back";
  return results_;
}

NoticeLog::NoticeLog(EventHub& hub) : hub_(hub) {
  subscription_ = hub_.Subscribe([this](const Notice& notice) {
    std::lock_guard lock(mutex_);
    notices_.push_back(notice);
    changed_.notify_all();
  });
}

NoticeLog::~NoticeLog() {
  hub_.Unsubscribe(subscription_);
}

std::vector<Notice> NoticeLog::WaitFor(Notice::Kind kind, std::size_t count) {
  std::unique_lock lock(mutex_);
  std::vector<Notice> found;
  const bool seen = changed_.wait_for(lock, std::chrono::seconds(10), [&] {
    found.clear();
    for (const auto& notice : notices_) {
      if (notice.kind == kind) found.push_back(notice);
    }
    return found.size() >= count;
  });
  EXPECT_TRUE(seen) << "only " << found.size() << " of " << count << " notices came";
  return found;
}

std::vector<Notice> NoticeLog::All() {
  std::lock_guard lock(mutex_);
  return notices_;
}

TimePoint TestEpoch() {
  using namespace std::chrono;
  return sys_days(year(2024) / 5 / 1) + hours(12);
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string PseudoRandomBytes(std::size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<char>(x >> 24);
  }
  return bytes;
}

std::vector<std::string> SnapshotFiles(const fs::path& dataDir) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dataDir / "snapshots")) {
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), dataDir).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace corvantis::server::testing
