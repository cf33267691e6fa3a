#include "server/web/web_context.h"

namespace corvantis::server {

WebContext::WebContext(const WebSettings& settings, const std::filesystem::path& dataDir,
                       EventHub& hub, LoginGate& logins, Clock& clock, LogSink logSink)
    : limits(settings.limits),
      log(std::move(logSink)),
      tls(!settings.tlsCert.empty()),
      databases(dataDir / Database::kFileName),
      sessions(clock, settings.limits),
      feed(hub, settings.limits.streamsPerAccount),
      signIn(logins),
      gallery({dataDir, dataDir / "web-tmp", databases, sessions, feed, signIn, log}),
      workers(static_cast<std::size_t>(std::max(1, settings.workers))) {}

bool WebContext::Admit(const std::string& address, const char*& why) {
  std::lock_guard lock(mutex_);
  if (stopping_) {
    why = "server stopping";
    return false;
  }
  if (open_ >= limits.maxConnections) {
    why = "server full";
    return false;
  }
  std::size_t& mine = perAddress_[address];
  if (mine >= limits.maxPerAddress) {
    why = "too many from address";
    return false;
  }
  ++mine;
  ++open_;
  return true;
}

void WebContext::Release(const std::string& address) {
  std::lock_guard lock(mutex_);
  --open_;
  const auto it = perAddress_.find(address);
  if (it != perAddress_.end() && --it->second == 0) perAddress_.erase(it);
}

uint64_t WebContext::Register(std::function<void()> close) {
  std::lock_guard lock(mutex_);
  const uint64_t id = nextId_++;
  closers_.emplace(id, std::move(close));
  return id;
}

void WebContext::Unregister(uint64_t id) {
  std::lock_guard lock(mutex_);
  closers_.erase(id);
}

void WebContext::CloseAll() {
  std::map<uint64_t, std::function<void()>> closers;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    closers.swap(closers_);
  }
  for (auto& [id, close] : closers) close();
}

}  // namespace corvantis::server
