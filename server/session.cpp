#include "server/session.h"

#include "server/asio.h"

#include <algorithm>

#include "server/log.h"

namespace corvantis::server {

namespace {

// Time a closing connection is given to deliver the last reply before its socket is closed.
constexpr std::chrono::milliseconds kLingerTime{2000};

}  // namespace

Session::Session(asio::ip::tcp::socket socket, SessionServices& services, bool full)
    : socket_(std::move(socket)),
      timer_(socket_.get_executor()),
      services_(services),
      state_(full ? State::kFull : State::kUser),
      counted_(!full) {
  error_code ec;
  const auto peer = socket_.remote_endpoint(ec);
  if (ec) {
    address_ = peer_ = "unknown";
  } else {
    address_ = peer.address().to_string();
    peer_ = address_ + ":" + std::to_string(peer.port());
  }
  // Every reply is awaited by the client before it sends on: send it at once.
  socket_.set_option(asio::ip::tcp::no_delay(true), ec);
}

Session::~Session() {
  services_.forget(this);
}

asio::any_io_executor Session::TrackedExecutor() {
  // Keeps the server's threads running while a verification or a store is in hand.
  return asio::prefer(socket_.get_executor(), asio::execution::outstanding_work.tracked);
}

void Session::Start() {
  asio::dispatch(socket_.get_executor(), [self = shared_from_this()] { self->Pump(); });
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
  if (!busy_ && !done_ && !reading_) StartRead();
}

void Session::StartRead() {
  reading_ = true;
  ArmTimer(services_.options.idleTimeout, false);
  socket_.async_read_some(asio::buffer(chunk_),
                          [self = shared_from_this()](error_code ec, std::size_t n) {
                            self->reading_ = false;
                            ++self->timerGeneration_;
                            self->timer_.cancel();
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

void Session::ArmTimer(std::chrono::milliseconds after, bool linger) {
  const uint64_t generation = ++timerGeneration_;
  timer_.expires_after(after);
  timer_.async_wait([self = shared_from_this(), generation, linger](error_code ec) {
    if (ec || generation != self->timerGeneration_) return;
    if (linger) {
      error_code ignored;
      self->socket_.close(ignored);
    } else {
      self->Finish("timed out", false);
    }
  });
}

void Session::HandleLine(std::string line) {
  switch (state_) {
    case State::kFull:
      return Reply("300 Too many connections; try again later.", "server full");
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
    case State::kPassword: {
      if (services_.throttle.Blocked(address_)) {
        return Reply("300 Too many failed logins; try again later.", "throttled");
      }
      // A password verified a moment ago (each upload logs in again) is answered at once.
      if (services_.checker.CheckRemembered(user_, line)) return OnVerified(true);
      state_ = State::kVerifying;
      busy_ = true;
      services_.checker.Check(user_, std::move(line),
                              [self = shared_from_this(), ex = TrackedExecutor()](bool ok) {
                                asio::post(ex, [self, ok] { self->OnVerified(ok); });
                              });
      return;
    }
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

void Session::OnVerified(bool ok) {
  busy_ = false;
  if (done_) return;
  if (ok) {
    services_.throttle.RecordSuccess(address_);
    state_ = State::kReady;
    Reply("200 Welcome, " + user_ + ".");
  } else {
    services_.throttle.RecordFailure(address_);
    Reply("300 Login incorrect.", "login refused");
  }
}

void Session::HandleHeaderSize(const std::string& line) {
  state_ = State::kReady;
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
  const bool now =
      services_.budget.Acquire(size, [self = shared_from_this(), ex = TrackedExecutor()] {
        asio::post(ex, [self] { self->OnMemoryGranted(); });
      });
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
    asio::post(ex,
               [self, result = std::move(result)]() mutable { self->OnStored(std::move(result)); });
  };
  services_.store.Submit(std::move(request));
}

void Session::OnStored(StoreResult result) {
  busy_ = false;
  memoryHeld_ = false;
  services_.budget.Release(expected_);
  if (!result.stored) {
    WriteLog(services_.options.log,
             peer_ + " user=" + EscapeForLog(user_) + " store failed: " + result.error);
  }
  if (done_) return;
  state_ = State::kReady;
  if (!result.stored) return Reply("300 Snapshot not stored.");
  ++uploads_;
  bytesStored_ += expected_;
  Reply("250 Stored " + result.file + " (" + std::to_string(expected_) + " bytes).");
}

void Session::Reply(std::string text, const char* finalOutcome) {
  busy_ = true;
  closeOutcome_ = finalOutcome;
  out_ = std::move(text);
  asio::async_write(socket_, asio::buffer(out_),
                    [self = shared_from_this()](error_code ec, std::size_t) {
                      self->busy_ = false;
                      if (self->done_) return;
                      if (ec) return self->Finish("connection error", false);
                      if (self->closeOutcome_) return self->Finish(self->closeOutcome_, true);
                      self->Pump();
                    });
}

void Session::Finish(const char* outcome, bool linger) {
  if (done_) return;
  done_ = true;
  if (memoryHeld_ && state_ != State::kStoring) {
    memoryHeld_ = false;
    services_.budget.Release(expected_);
  }
  state_ = State::kDone;
  if (counted_) --services_.active;
  WriteLog(services_.options.log,
           peer_ + " user=" + (user_.empty() ? "-" : EscapeForLog(user_)) + " outcome=" + outcome +
               " uploads=" + std::to_string(uploads_) + " bytes=" + std::to_string(bytesStored_));
  ++timerGeneration_;
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
  ArmTimer(kLingerTime, true);
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
