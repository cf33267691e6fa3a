#include "server/web/http_connection.h"

#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <nlohmann/json.hpp>

#include <array>
#include <optional>

#include "server/log.h"
#include "server/web/pages.h"
#include "server/web/web_responses.h"

namespace corvantis::server {

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

using PlainStream = beast::tcp_stream;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

// One Server-Sent Event with the account's newest snapshot.
std::string StreamMessage(const LiveState& state) {
  const nlohmann::json news = {
      {"snapshot", state.snapshot},
      {"time", state.snapshot ? MachineTime(ParseTime(state.time).value_or(TimePoint{})) : ""},
      {"caption", LiveCaption(state)}};
  return "event: snapshot\ndata: " + news.dump() + "\n\n";
}

template <class Stream>
class HttpConnection : public std::enable_shared_from_this<HttpConnection<Stream>> {
 public:
  HttpConnection(Stream stream, std::shared_ptr<WebContext> context, std::string address,
                 std::string peer)
      : stream_(std::move(stream)),
        context_(std::move(context)),
        address_(std::move(address)),
        peer_(std::move(peer)),
        buffer_(context_->limits.maxHeader + context_->limits.maxBody),
        keepAliveTimer_(stream_.get_executor()) {}

  ~HttpConnection() {
    context_->Unregister(registration_);
    if (watcher_) context_->feed.Unwatch(watcher_);
    context_->Release(address_);
  }

  void Start() {
    registration_ =
        context_->Register([weak = this->weak_from_this(), ex = stream_.get_executor()] {
          asio::post(ex, [weak] {
            if (auto self = weak.lock()) self->Finish("server stopping");
          });
        });
    asio::dispatch(stream_.get_executor(), [self = this->shared_from_this()] {
      if constexpr (std::is_same_v<Stream, TlsStream>) {
        self->Tcp().expires_after(self->context_->limits.requestTimeout);
        self->stream_.async_handshake(asio::ssl::stream_base::server, [self](beast::error_code ec) {
          if (ec) return self->Finish(self->Failure(ec));
          self->ReadRequest();
        });
      } else {
        self->ReadRequest();
      }
    });
  }

 private:
  beast::tcp_stream& Tcp() { return beast::get_lowest_layer(stream_); }

  // The log's word for a failed read or write.
  const char* Failure(const beast::error_code& ec) const {
    if (ec == beast::error::timeout) return "timed out";
    if (ec == http::error::end_of_stream || ec == asio::error::eof ||
        ec == asio::error::connection_reset) {
      return "closed by client";
    }
    if (ec.category() == asio::error::get_ssl_category() ||
        ec == asio::ssl::error::stream_truncated) {
      return "TLS error";
    }
    return "connection error";
  }

  void ReadRequest() {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(context_->limits.maxHeader));
    parser_->body_limit(context_->limits.maxBody);
    Tcp().expires_after(context_->limits.requestTimeout);
    http::async_read(
        stream_, buffer_, *parser_,
        [self = this->shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
  }

  void OnRead(beast::error_code ec) {
    if (done_) return;
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
      return RespondAndClose(431, "Request header fields too large.", "header too large");
    }
    if (ec == http::error::body_limit) {
      return RespondAndClose(413, "Request body too large.", "body too large");
    }
    if (ec == beast::error::timeout) {
      // Silence between requests ends a kept connection; silence inside one is a slow client.
      return Finish(parser_->got_some() ? "timed out" : "idle");
    }
    if (ec && ec.category() == http::make_error_code(http::error::bad_target).category() &&
        ec != http::error::end_of_stream && ec != http::error::partial_message) {
      return RespondAndClose(400, "Bad request.", "bad request");
    }
    if (ec) return Finish(Failure(ec));
    auto& message = parser_->get();
    if (message.target().size() > context_->limits.maxTarget) {
      return RespondAndClose(414, "Request target too long.", "target too long");
    }
    WebRequest request;
    request.method = std::string(message.method_string());
    request.target = std::string(message.target());
    request.host = std::string(message[http::field::host]);
    request.cookie = std::string(message[http::field::cookie]);
    request.origin = std::string(message[http::field::origin]);
    request.fetchSite = std::string(message["Sec-Fetch-Site"]);
    request.contentType = std::string(message[http::field::content_type]);
    request.ifNoneMatch = std::string(message[http::field::if_none_match]);
    request.body = std::move(message.body());
    request.client = address_;
    request.peer = peer_;
    request.tls = context_->tls;
    ++requests_;
    keepAlive_ = message.keep_alive() && requests_ < context_->limits.maxRequests;
    head_ = message.method() == http::verb::head;
    parser_.reset();
    Tcp().expires_never();  // the request is in; the gallery's work takes what it takes
    asio::post(context_->workers, [self = this->shared_from_this(),
                                   request = std::move(request)]() mutable {
      auto ex = self->stream_.get_executor();
      self->context_->gallery.Handle(std::move(request), [self, ex](WebResponse response) {
        asio::post(ex, [self, response = std::move(response)]() mutable {
          self->Respond(std::move(response));
        });
      });
    });
  }

  // The fields of a response: the gallery's, the ones every response has, the body's type.
  template <class Body>
  void Fill(http::response<Body>& message, const WebResponse& response, bool keepAlive) {
    message.version(11);
    message.result(response.status);
    for (const auto& [name, value] : kEveryResponseFields) message.set(name, value);
    for (const auto& [name, value] : response.fields) message.insert(name, value);
    if (!response.contentType.empty()) message.set(http::field::content_type, response.contentType);
    message.keep_alive(keepAlive);
  }

  void Respond(WebResponse response) {
    if (done_) return;
    if (response.stream) return StartStream(std::move(*response.stream));
    const bool keepAlive = keepAlive_;
    if (response.file) {
      beast::file_posix file;
      file.native_handle(response.file.release());
      auto message = std::make_shared<http::response<http::file_body>>();
      beast::error_code ec;
      message->body().reset(std::move(file), ec);
      if (ec) return Finish("file unreadable");
      Fill(*message, response, keepAlive);
      message->prepare_payload();
      if (head_) return SendHead(message->base(), message->payload_size().value_or(0));
      return Send(std::move(message));
    }
    auto message = std::make_shared<http::response<http::string_body>>();
    message->body() = std::move(response.body);
    Fill(*message, response, keepAlive);
    message->prepare_payload();
    if (head_) return SendHead(message->base(), message->body().size());
    Send(std::move(message));
  }

  // The answer to HEAD: the header GET would have, with the length of the body it would have.
  void SendHead(const http::response_header<>& header, std::uint64_t length) {
    auto message = std::make_shared<http::response<http::empty_body>>(header);
    message->content_length(length);
    Send(std::move(message));
  }

  // Writes a response a piece at a time, each within the write deadline, so that a large
  // download goes at the client's pace while a client that stops reading is let go.
  template <class Body>
  void Send(std::shared_ptr<http::response<Body>> message) {
    auto serializer = std::make_shared<http::response_serializer<Body>>(*message);
    SendSome(std::move(message), std::move(serializer));
  }

  template <class Body>
  void SendSome(std::shared_ptr<http::response<Body>> message,
                std::shared_ptr<http::response_serializer<Body>> serializer) {
    Tcp().expires_after(context_->limits.writeTimeout);
    http::async_write_some(stream_, *serializer,
                           [self = this->shared_from_this(), message, serializer](
                               beast::error_code ec, std::size_t) mutable {
                             if (self->done_) return;
                             if (ec) return self->Finish(self->Failure(ec));
                             if (!serializer->is_done()) {
                               return self->SendSome(std::move(message), std::move(serializer));
                             }
                             if (!message->keep_alive()) return self->Shutdown();
                             self->ReadRequest();
                           });
  }

  void RespondAndClose(unsigned status, const char* text, const char* outcome) {
    closeOutcome_ = outcome;
    keepAlive_ = false;
    head_ = false;
    Respond(TextResponse(status, text));
  }

  // Ends the connection after its last response: TLS says goodbye first.
  void Shutdown() {
    if constexpr (std::is_same_v<Stream, TlsStream>) {
      Tcp().expires_after(context_->limits.writeTimeout);
      stream_.async_shutdown([self = this->shared_from_this()](beast::error_code) {
        self->Finish(self->closeOutcome_);
      });
    } else {
      beast::error_code ignored;
      Tcp().socket().shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
      Finish(closeOutcome_);
    }
  }

  void Finish(const char* outcome) {
    if (done_) return;
    done_ = true;
    WriteLog(context_->log,
             "web " + peer_ + " requests=" + std::to_string(requests_) + " outcome=" + outcome);
    if (watcher_) context_->feed.Unwatch(watcher_);
    watcher_ = 0;
    keepAliveTimer_.cancel();
    Tcp().close();
  }

  // The live stream: the response's header, then one event per change of the account's
  // newest snapshot, and a comment now and then so that a vanished client is noticed.
  void StartStream(WebSessions::Session session) {
    watcher_ = context_->feed.Watch(session.user,
                                    [weak = this->weak_from_this(), ex = stream_.get_executor()] {
                                      asio::post(ex, [weak] {
                                        if (auto self = weak.lock()) self->StreamWake();
                                      });
                                    });
    if (!watcher_) {
      return RespondAndClose(429, "Too many live pages of this account are open.",
                             "too many streams");
    }
    session_ = std::move(session);
    closeOutcome_ = "stream ended";
    auto message = std::make_shared<http::response<http::empty_body>>(http::status::ok, 11);
    for (const auto& [name, value] : kEveryResponseFields) message->set(name, value);
    message->set(http::field::content_type, "text/event-stream");
    message->set(http::field::cache_control, "no-store");
    message->keep_alive(false);
    if (head_) return Send(std::move(message));
    auto serializer = std::make_shared<http::response_serializer<http::empty_body>>(*message);
    writing_ = true;
    Tcp().expires_after(context_->limits.writeTimeout);
    http::async_write_header(
        stream_, *serializer,
        [self = this->shared_from_this(), message, serializer](beast::error_code ec, std::size_t) {
          if (self->done_) return;
          if (ec) return self->Finish(self->Failure(ec));
          self->AfterStreamWrite();
          self->WatchForClose();
          self->KeepAlive();
        });
    // The feed knows nothing of the account yet: the database tells where it stands.
    asio::post(context_->workers, [self = this->shared_from_this(), user = session_->user] {
      self->context_->gallery.PrimeLiveFeed(user);
    });
  }

  void StreamWake() {
    if (done_) return;
    if (writing_) {
      wakePending_ = true;
      return;
    }
    wakePending_ = false;
    // Signed out, expired or pushed out: the stream ends with its session.
    if (!context_->sessions.Alive(session_->key)) return Finish("signed out");
    const LiveState state = context_->feed.Latest(session_->user);
    if (state.version == 0 || state.version == sentVersion_) return;
    sentVersion_ = state.version;
    WriteStream(StreamMessage(state));
  }

  void WriteStream(std::string text) {
    streamOut_ = std::move(text);
    writing_ = true;
    Tcp().expires_after(context_->limits.writeTimeout);
    asio::async_write(stream_, asio::buffer(streamOut_),
                      [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                        if (self->done_) return;
                        if (ec) return self->Finish(self->Failure(ec));
                        self->AfterStreamWrite();
                      });
  }

  void AfterStreamWrite() {
    Tcp().expires_never();
    writing_ = false;
    if (wakePending_) StreamWake();
  }

  void KeepAlive() {
    keepAliveTimer_.expires_after(context_->limits.streamKeepAlive);
    keepAliveTimer_.async_wait([self = this->shared_from_this()](beast::error_code ec) {
      if (ec || self->done_) return;
      if (!self->context_->sessions.Alive(self->session_->key)) return self->Finish("signed out");
      if (!self->writing_) self->WriteStream(": still here\n\n");
      self->KeepAlive();
    });
  }

  // A stream's client sends nothing more; reading tells when it has gone.
  void WatchForClose() {
    stream_.async_read_some(asio::buffer(sink_),
                            [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                              if (self->done_) return;
                              if (ec) return self->Finish("closed by client");
                              self->WatchForClose();
                            });
  }

  Stream stream_;
  std::shared_ptr<WebContext> context_;
  const std::string address_;
  const std::string peer_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  uint64_t registration_ = 0;
  std::size_t requests_ = 0;
  bool keepAlive_ = false;
  bool head_ = false;
  bool done_ = false;
  const char* closeOutcome_ = "ok";

  // The live stream.
  asio::steady_timer keepAliveTimer_;
  std::optional<WebSessions::Session> session_;
  uint64_t watcher_ = 0;
  uint64_t sentVersion_ = 0;
  bool writing_ = false;
  bool wakePending_ = false;
  std::string streamOut_;
  std::array<char, 256> sink_{};
};

}  // namespace

void ServeConnection(asio::ip::tcp::socket socket, std::shared_ptr<WebContext> context,
                     std::string address, asio::ssl::context* tls) {
  error_code ec;
  const auto remote = socket.remote_endpoint(ec);
  std::string peer = ec ? address : address + ":" + std::to_string(remote.port());
  socket.set_option(asio::ip::tcp::no_delay(true), ec);
  if (tls) {
    std::make_shared<HttpConnection<TlsStream>>(TlsStream(PlainStream(std::move(socket)), *tls),
                                                std::move(context), std::move(address),
                                                std::move(peer))
        ->Start();
  } else {
    std::make_shared<HttpConnection<PlainStream>>(
        PlainStream(std::move(socket)), std::move(context), std::move(address), std::move(peer))
        ->Start();
  }
}

}  // namespace corvantis::server
