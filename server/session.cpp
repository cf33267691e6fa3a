#include "server/session.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include "server/asio.h"

#include <algorithm>

#include "server/log.h"

namespace corvantis::server {

namespace {

// Time a closing connection is given to deliver the last reply before its socket is closed.
constexpr std::chrono::milliseconds kLingerTime{2000};
// The first and the longest pause between looks at whether a client has taken its replies.
constexpr std::chrono::milliseconds kFirstDrainPause{1};
constexpr std::chrono::milliseconds kLongestDrainPause{64};
// How much of a user name the log shows.
constexpr std::size_t kLoggedNameBytes = 64;

// True while bytes written to the socket wait for the client's window to open: the client
// is not reading its replies.
bool RepliesWaiting(int fd) {
  int unsent = 0;
  return ::ioctl(fd, SIOCOUTQNSD, &unsent) == 0 && unsent > 0;
}

}  // namespace

Session::Session(asio::ip::tcp::socket socket, SessionServices& services, ConnectionPlace place,
                 std::string client)
    : socket_(std::move(socket)),
      timer_(socket_.get_executor()),
      services_(services),
      place_(std::move(place)),
      client_(std::move(client)) {
  error_code ec;
  const auto peer = socket_.remote_endpoint(ec);
  peer_ = ec ? "unknown" : peer.address().to_string() + ":" + std::to_string(peer.port());
  // Every reply is awaited by the client before it sends on: send it at once, and from the
  // connection's thread when the socket takes it (Reply).
  socket_.set_option(asio::ip::tcp::no_delay(true), ec);
  socket_.non_blocking(true, ec);
}

Session::~Session() {
  services_.forget(this);
}

asio::any_io_executor Session::TrackedExecutor() {
  // Keeps the server's threads running while a check, a memory wait or a store is in hand.
  return asio::prefer(socket_.get_executor(), asio::execution::outstanding_work.tracked);
}

void Session::Start() {
  asio::dispatch(socket_.get_executor(), [self = shared_from_this()] {
    const auto now = Clock::now();
    self->loginDeadline_ = now + self->services_.options.loginTimeout;
    self->lineDeadline_ = now + self->services_.options.idleTimeout;
    self->Pump();
  });
}

void Session::Close() {
  asio::post(socket_.get_executor(), [self = shared_from_this()] {
    // A connection whose last reply is on its way keeps the outcome of that reply.
    self->Finish(self->closeOutcome_ ? self->closeOutcome_ : "server stopping", false);
    error_code ec;
    self->socket_.close(ec);
  });
}

void Session::Pump() {
  while (!busy_ && !done_) {
    if (state_ == State::kBody) {
      const std::size_t take = std::min(in_.size(), expected_ - body_.size());
      body_.append(in_, 0, take);
      in_.erase(0, take);
      if (body_.size() < expected_) break;
      StoreBody();
      continue;
    }
    const std::size_t lf = in_.find('\n');
    if (lf == std::string::npos ? in_.size() > kMaxLine : lf > kMaxLine) {
      Reply("300 Line too long.", "line too long");
      break;
    }
    if (lf == std::string::npos) break;
    std::string line = in_.substr(0, lf);
    in_.erase(0, lf + 1);
    HandleLine(std::move(line));
  }
  if (done_) return;
  if (!busy_ && !reading_) StartRead();
  Watch();
}

void Session::StartRead() {
  reading_ = true;
  socket_.async_read_some(asio::buffer(chunk_),
                          [self = shared_from_this()](error_code ec, std::size_t n) {
                            self->reading_ = false;
                            if (self->done_) return;
                            if (ec) {
                              const bool eof = ec == asio::error::eof;
                              self->Finish(self->state_ == State::kBody ? "body cut short"
                                           : eof                        ? "closed by client"
                                                                        : "connection error",
                                           false);
                              return;
                            }
                            self->in_.append(self->chunk_.data(), n);
                            self->Pump();
                          });
}

void Session::HandleLine(std::string line) {
  switch (state_) {
    case State::kUser:
      if (line == "DATA") {
        state_ = State::kEarlyHeaderSize;  // one reply for the whole header
        return;
      }
      if (line == "QUIT") return Reply("221 Bye.", "ok");
      user_ = std::move(line);
      state_ = State::kPassword;
      // The same answer for every name: a refusal here would tell which names exist.
      return Reply("331 Password, please.");
    case State::kEarlyHeaderSize:
      return Reply("300 Log in first.", "header before login");
    case State::kPassword:
      return CheckPassword(std::move(line));
    case State::kReady:
      if (line == "DATA") {
        state_ = State::kHeaderSize;
        return;
      }
      if (line == "QUIT") return Reply("221 Bye.", "ok");
      return Reply("300 Unknown command.");
    case State::kHeaderSize:
      return HandleHeaderSize(line);
    default:
      return;  // the other states read no lines
  }
}

void Session::CheckPassword(std::string password) {
  state_ = State::kVerifying;
  busy_ = true;
  auto answer = services_.logins.Begin(
      client_, user_, std::move(password),
      [self = shared_from_this(), ex = TrackedExecutor()](LoginGate::Answer answer) {
        asio::post(ex, [self, answer = std::move(answer)]() mutable {
          self->Answered(std::move(answer));
          self->Pump();
        });
      },
      loginTicket_);
  if (answer) return Answered(std::move(*answer));
  // Listen while the check waits: a client that hangs up takes its check back unrun.
  if (!reading_) StartRead();
}

void Session::Answered(LoginGate::Answer answer) {
  busy_ = false;
  if (done_) return;
  if (answer.outcome == LoginGate::Outcome::kAccepted) {
    loggedIn_ = true;
    stamp_ = std::move(answer.stamp);
    state_ = State::kReady;
    return Reply("200 Welcome, " + user_ + ".");
  }
  const LoginRefusal refusal = DescribeRefusal(answer.outcome);
  Reply(refusal.reply, refusal.outcome);
}

void Session::HandleHeaderSize(const std::string& line) {
  state_ = State::kReady;
  // Removing an account (or adding it again anew) ends what its open connections may store.
  if (!services_.logins.StillValid(user_, stamp_)) {
    return Reply("300 Account removed; log in again.", "account removed");
  }
  const bool digits =
      !line.empty() && line.size() <= 18 &&
      std::all_of(line.begin(), line.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!digits) return RefuseHeader("300 Bad snapshot size.", "bad header");
  const std::size_t size = std::stoull(line);
  if (size == 0) return RefuseHeader("300 Empty snapshot refused.", "bad header");
  if (size > services_.options.maxSize) {
    return RefuseHeader("300 Snapshot too large; the limit is " +
                            std::to_string(services_.options.maxSize) + " bytes.",
                        "snapshot too large");
  }
  if (services_.retention.DiskFull()) {
    return RefuseHeader("300 Server disk full; snapshot not stored.", "disk full");
  }
  headerRefusals_ = 0;
  expected_ = size;
  state_ = State::kWaitingForMemory;
  busy_ = true;
  memoryDeadline_ = Clock::now() + services_.options.memoryWait;
  const bool now = services_.budget.Acquire(
      size,
      [self = shared_from_this(), ex = TrackedExecutor()] {
        asio::post(ex, [self] {
          self->OnMemoryGranted();
          self->Pump();
        });
      },
      memoryTicket_);
  if (now) OnMemoryGranted();
}

void Session::RefuseHeader(std::string text, const char* outcome) {
  // The client sends its header at most six times and then its body whatever the reply;
  // the body could not be told from lines, so the sixth refusal ends the connection.
  if (++headerRefusals_ >= kMaxHeaderRefusals) return Reply(std::move(text), outcome);
  Reply(std::move(text));
}

void Session::OnMemoryGranted() {
  busy_ = false;
  if (done_) return services_.budget.Release(expected_);
  memoryHeld_ = true;
  state_ = State::kBody;
  body_.clear();
  body_.reserve(expected_);
  bodyStart_ = Clock::now();
  Reply("354 Send " + std::to_string(expected_) + " bytes.");
}

void Session::StoreBody() {
  state_ = State::kStoring;
  busy_ = true;
  StoreRequest request;
  request.user = user_;
  request.client = peer_;
  request.body = std::move(body_);
  body_ = {};
  request.done = [self = shared_from_this(), ex = TrackedExecutor()](StoreResult result) {
    asio::post(ex, [self, result = std::move(result)]() mutable {
      self->OnStored(std::move(result));
      self->Pump();
    });
  };
  services_.store.Submit(std::move(request));
}

void Session::OnStored(StoreResult result) {
  busy_ = false;
  memoryHeld_ = false;
  services_.budget.Release(expected_);
  if (!result.stored) {
    WriteLog(services_.options.log, peer_ + " user=" + EscapeForLog(user_, kLoggedNameBytes) +
                                        " store failed: " + result.error);
  }
  if (done_) return;
  state_ = State::kReady;
  if (!result.stored) return Reply("300 Snapshot not stored.");
  ++uploads_;
  bytesStored_ += expected_;
  Reply("250 Stored " + result.file + " (" + std::to_string(expected_) + " bytes).");
}

void Session::Reply(std::string text, const char* finalOutcome) {
  closeOutcome_ = finalOutcome;
  out_ = std::move(text);
  // A short reply nearly always fits the socket's buffer: write it now, without a round
  // through the reactor, and wait only for what did not fit.
  error_code ec;
  const std::size_t sent = socket_.write_some(asio::buffer(out_), ec);
  if (ec && ec != asio::error::would_block) return Finish("connection error", false);
  if (sent == out_.size()) return Replied();
  writing_ = busy_ = true;
  writeDeadline_ = Clock::now() + services_.options.writeTimeout;
  asio::async_write(socket_, asio::buffer(out_) + sent,
                    [self = shared_from_this()](error_code ec, std::size_t) {
                      self->writing_ = self->busy_ = false;
                      if (self->done_) return;
                      if (ec) return self->Finish("connection error", false);
                      self->Replied();
                      self->Pump();
                    });
}

void Session::Replied() {
  if (closeOutcome_) return Finish(closeOutcome_, true);
  const auto now = Clock::now();
  lineDeadline_ = now + services_.options.idleTimeout;
  if (RepliesWaiting(socket_.native_handle())) {
    // The client is not taking its replies: read nothing more from it until it has.
    draining_ = busy_ = true;
    writeDeadline_ = now + services_.options.writeTimeout;
    drainPause_ = kFirstDrainPause;
    drainCheck_ = now + drainPause_;
  }
}

Session::Clock::time_point Session::Deadline() const {
  if (done_) return lingering_ ? lingerUntil_ : Clock::time_point::max();
  if (draining_) return std::min(drainCheck_, writeDeadline_);
  if (writing_) return writeDeadline_;
  switch (state_) {
    case State::kVerifying:
      return loginDeadline_;
    case State::kWaitingForMemory:
      return memoryDeadline_;
    case State::kBody: {
      // The time by which a body keeping the least rate has brought more than it has.
      const std::size_t rate = services_.options.minBodyRate;
      if (rate == 0) return Clock::time_point::max();
      const auto earned = std::chrono::microseconds(body_.size() * 1000000 / rate);
      const auto grace = std::min(services_.options.bodyGrace, services_.options.idleTimeout);
      return bodyStart_ + grace + earned;
    }
    case State::kStoring:
    case State::kDone:
      return Clock::time_point::max();
    default:
      return loggedIn_ ? lineDeadline_ : std::min(lineDeadline_, loginDeadline_);
  }
}

void Session::Watch() {
  // Deadlines move later all the time (every reply); the timer is set again only when one
  // moves earlier, and otherwise fires early and is set for the deadline then in force.
  const auto due = Deadline();
  if (due == Clock::time_point::max() || (timerArmed_ && armedFor_ <= due)) return;
  timerArmed_ = true;
  armedFor_ = due;
  const uint64_t generation = ++timerGeneration_;
  timer_.expires_at(due);
  timer_.async_wait([self = shared_from_this(), generation](error_code ec) {
    if (ec || generation != self->timerGeneration_) return;
    self->timerArmed_ = false;
    self->OnTimer();
  });
}

void Session::OnTimer() {
  const auto now = Clock::now();
  if (now < Deadline()) return Watch();
  if (done_) {
    error_code ignored;
    socket_.close(ignored);  // lingered long enough
    return;
  }
  if (draining_) {
    if (!RepliesWaiting(socket_.native_handle())) {
      draining_ = busy_ = false;
      return Pump();
    }
    if (now >= writeDeadline_) return Finish("write timed out", false);
    drainPause_ = std::min<Clock::duration>(drainPause_ * 2, kLongestDrainPause);
    drainCheck_ = now + drainPause_;
    return Watch();
  }
  if (writing_) return Finish("write timed out", false);
  switch (state_) {
    case State::kBody:
      return Finish("body too slow", false);
    case State::kVerifying:
      return Finish("login timed out", false);
    case State::kWaitingForMemory:
      // False: the bytes were granted a moment ago and the grant is on its way.
      if (!services_.budget.Cancel(memoryTicket_)) return;
      busy_ = false;
      state_ = State::kReady;
      RefuseHeader("300 Server busy; try again later.", "busy");
      return Pump();
    case State::kStoring:
    case State::kDone:
      return;
    default:
      return Finish(!loggedIn_ && now >= loginDeadline_ ? "login timed out" : "timed out", false);
  }
}

void Session::Finish(const char* outcome, bool linger) {
  if (done_) return;
  done_ = true;
  // A check or a memory wait still queued is taken back: nobody waits for its answer.
  if (state_ == State::kVerifying) services_.logins.Cancel(loginTicket_);
  if (state_ == State::kWaitingForMemory) services_.budget.Cancel(memoryTicket_);
  if (memoryHeld_ && state_ != State::kStoring) {
    memoryHeld_ = false;
    services_.budget.Release(expected_);
  }
  state_ = State::kDone;
  WriteLog(services_.options.log,
           peer_ + " user=" + (user_.empty() ? "-" : EscapeForLog(user_, kLoggedNameBytes)) +
               " outcome=" + outcome + " uploads=" + std::to_string(uploads_) +
               " bytes=" + std::to_string(bytesStored_));
  ++timerGeneration_;
  timerArmed_ = false;
  timer_.cancel();
  error_code ec;
  if (!linger) {
    socket_.close(ec);
    return;
  }
  // Send the end of the stream after the last reply, then read until the client closes (or
  // a short time passes): closing with unread input would reset the connection and could
  // destroy the reply before the client has read it.
  socket_.shutdown(asio::ip::tcp::socket::shutdown_send, ec);
  lingering_ = true;
  lingerUntil_ = Clock::now() + kLingerTime;
  Watch();
  Linger();
}

void Session::Linger() {
  socket_.async_read_some(asio::buffer(chunk_),
                          [self = shared_from_this()](error_code ec, std::size_t) {
                            if (!ec) return self->Linger();
                            ++self->timerGeneration_;
                            self->timer_.cancel();
                            error_code ignored;
                            self->socket_.close(ignored);
                          });
}

}  // namespace corvantis::server
