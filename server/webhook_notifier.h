// Posts each event that opens or closes to the owner's URL (http or https, libcurl): the
// event's JSON (notice_format.h) with Content-Type application/json. A delivery that does
// not get a 2xx answer within the time-out is tried again after a back-off that doubles,
// up to the number of retries; an answer of 4xx (but 408 and 429) is final. Redirects are
// not followed. One delivery at a time, in order, from a bounded queue (a full queue drops
// and counts). Each delivery and each failed attempt is one log line; the URL, which may
// carry a secret, is never logged.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "server/event_hub.h"
#include "server/notify_queue.h"
#include "server/options.h"

namespace corvantis::server {

// Why `url` cannot be a webhook, or nothing when it can.
std::optional<std::string> WebhookUrlProblem(const std::string& url);

class WebhookNotifier {
 public:
  WebhookNotifier(WebhookSettings settings, std::size_t queueLimit, EventHub& hub, LogSink log);
  // Stops at once: a transfer in progress is cut, what waits is not posted.
  ~WebhookNotifier();
  WebhookNotifier(const WebhookNotifier&) = delete;
  WebhookNotifier& operator=(const WebhookNotifier&) = delete;

 private:
  struct Job {
    std::string words;  // for the log
    std::string body;
  };
  void Run();
  void Deliver(const Job& job, void* curl);

  const WebhookSettings settings_;
  const LogSink log_;
  EventHub& hub_;
  NotifyQueue<Job> queue_;
  std::atomic<bool> stopping_{false};
  uint64_t subscription_ = 0;
  std::thread thread_;
};

}  // namespace corvantis::server
