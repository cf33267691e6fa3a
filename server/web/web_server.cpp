#include "server/web/web_server.h"

#include <sys/stat.h>

#include <openssl/ssl.h>
#include <boost/asio/ssl.hpp>

#include <stdexcept>

#include "server/log.h"
#include "server/web/http_connection.h"
#include "server/web/web_context.h"

namespace corvantis::server {

namespace fs = std::filesystem;

namespace {

std::unique_ptr<asio::ssl::context> MakeTls(const WebSettings& settings) {
  if (settings.tlsCert.empty() && settings.tlsKey.empty()) return nullptr;
  if (settings.tlsCert.empty() || settings.tlsKey.empty()) {
    throw std::runtime_error("TLS needs both --tls-cert and --tls-key");
  }
  auto tls = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
  tls->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                   asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                   asio::ssl::context::no_tlsv1_1 | asio::ssl::context::single_dh_use);
  SSL_CTX_set_min_proto_version(tls->native_handle(), TLS1_2_VERSION);
  try {
    tls->use_certificate_chain_file(settings.tlsCert.string());
    tls->use_private_key_file(settings.tlsKey.string(), asio::ssl::context::pem);
  } catch (const boost::system::system_error& e) {
    throw std::runtime_error("cannot use the TLS certificate " + settings.tlsCert.string() +
                             " with the key " + settings.tlsKey.string() + ": " + e.what());
  }
  if (SSL_CTX_check_private_key(tls->native_handle()) != 1) {
    throw std::runtime_error("the TLS key " + settings.tlsKey.string() +
                             " does not belong to the certificate " + settings.tlsCert.string());
  }
  return tls;
}

// Makes `dir` (mode 0700) when missing, and empties it when `empty`.
void PrepareFolder(const fs::path& dir, bool empty) {
  ::mkdir(dir.c_str(), 0700);
  if (!fs::is_directory(dir)) throw std::runtime_error("cannot create " + dir.string());
  if (!empty) return;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) fs::remove_all(entry.path(), ec);
}

}  // namespace

bool IsLoopbackAddress(const std::string& address) {
  error_code ec;
  const auto parsed = asio::ip::make_address(address, ec);
  if (ec) return false;
  if (parsed.is_v6() && parsed.to_v6().is_v4_mapped()) {
    return asio::ip::make_address_v4(asio::ip::v4_mapped, parsed.to_v6()).is_loopback();
  }
  return parsed.is_loopback();
}

WebServer::WebServer(asio::io_context& io, const WebSettings& settings, WebServices services)
    : io_(io),
      settings_(settings),
      log_(services.log),
      tls_(MakeTls(settings)),
      acceptor_(asio::make_strand(io)) {
  if (!tls_ && !settings.insecure && !IsLoopbackAddress(settings.address)) {
    throw std::runtime_error("the web gallery on " + settings.address +
                             " needs HTTPS: give --tls-cert and --tls-key (or --web-insecure "
                             "to serve plain HTTP there anyway)");
  }
  PrepareFolder(services.dataDir / "thumbnails", false);
  PrepareFolder(services.dataDir / "web-tmp", true);
  context_ = std::make_shared<WebContext>(settings, services.dataDir, services.hub, services.logins,
                                          services.clock, services.log);
}

WebServer::~WebServer() {
  Stop();
  Join();
}

asio::ip::tcp::endpoint WebServer::Bind() {
  const asio::ip::tcp::endpoint wanted(asio::ip::make_address(settings_.address), settings_.port);
  acceptor_.open(wanted.protocol());
  acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true));
  acceptor_.bind(wanted);
  acceptor_.listen(asio::socket_base::max_listen_connections);
  return acceptor_.local_endpoint();
}

void WebServer::Start() {
  Accept();
}

void WebServer::Accept() {
  acceptor_.async_accept(
      asio::make_strand(io_), [this](error_code ec, asio::ip::tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor_.is_open()) return;
        if (!ec) {
          error_code ignored;
          const auto remote = socket.remote_endpoint(ignored);
          const std::string address = ignored ? "unknown" : remote.address().to_string();
          const char* why = nullptr;
          if (context_->Admit(address, why)) {
            ServeConnection(std::move(socket), context_, address, tls_.get());
          } else {
            WriteLog(log_, "web " + address + " outcome=" + why);
            socket.close(ignored);
          }
        }
        // Errors such as running out of file descriptors end one accept, not the listener.
        Accept();
      });
}

void WebServer::Stop() {
  asio::post(acceptor_.get_executor(), [this] {
    error_code ignored;
    acceptor_.close(ignored);
  });
  context_->CloseAll();
}

void WebServer::Join() {
  context_->workers.join();
}

}  // namespace corvantis::server
