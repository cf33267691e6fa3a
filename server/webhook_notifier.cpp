#include "server/webhook_notifier.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "server/log.h"
#include "server/notice_format.h"

namespace corvantis::server {

namespace {

void InitCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t Discard(char*, size_t size, size_t count, void*) {
  return size * count;
}

// Ends a transfer in progress once the notifier stops.
int Progress(void* stopping, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<std::atomic<bool>*>(stopping)->load() ? 1 : 0;
}

// 2xx is delivered; transport failures, 5xx, 408 and 429 may pass on a later try.
bool WorthRetrying(CURLcode code, long status) {
  return code != CURLE_OK || status >= 500 || status == 408 || status == 429;
}

}  // namespace

std::optional<std::string> WebhookUrlProblem(const std::string& url) {
  InitCurl();
  CURLU* parsed = curl_url();
  const bool ok = curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
  char* scheme = nullptr;
  std::string schemeText;
  if (ok && curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK) schemeText = scheme;
  curl_free(scheme);
  curl_url_cleanup(parsed);
  if (!ok) return "not a URL";
  if (schemeText != "http" && schemeText != "https")
    return "the URL must start http:// or https://";
  return std::nullopt;
}

WebhookNotifier::WebhookNotifier(WebhookSettings settings, std::size_t queueLimit, EventHub& hub,
                                 LogSink log)
    : settings_(std::move(settings)), log_(std::move(log)), hub_(hub), queue_(queueLimit) {
  InitCurl();
  subscription_ = hub_.Subscribe([this](const Notice& notice) {
    if (notice.kind == Notice::Kind::kSnapshotStored) return;
    queue_.Push({EventLogWords(notice.event), EventJson(notice.event)});
  });
  thread_ = std::thread([this] { Run(); });
}

WebhookNotifier::~WebhookNotifier() {
  hub_.Unsubscribe(subscription_);
  stopping_ = true;
  queue_.Close();
  thread_.join();
  if (const auto dropped = queue_.TakeDropped()) {
    WriteLog(log_, "notify webhook dropped " + std::to_string(dropped) + " events: queue full");
  }
}

void WebhookNotifier::Run() {
  std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) {
    WriteLog(log_, "notify webhook failed: libcurl cannot start; no webhook");
    return;
  }
  while (auto job = queue_.Pop()) {
    if (const auto dropped = queue_.TakeDropped()) {
      WriteLog(log_, "notify webhook dropped " + std::to_string(dropped) + " events: queue full");
    }
    Deliver(*job, curl.get());
  }
}

void WebhookNotifier::Deliver(const Job& job, void* handle) {
  CURL* curl = static_cast<CURL*>(handle);
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  char error[CURL_ERROR_SIZE];
  curl_easy_reset(curl);
  curl_easy_setopt(curl, CURLOPT_URL, settings_.url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "corvantis-server");
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, job.body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(job.body.size()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(settings_.timeout.count()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &stopping_);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  auto backoff = settings_.backoff;
  for (int attempt = 1;; ++attempt) {
    error[0] = '\0';
    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (stopping_) break;
    if (code == CURLE_OK && status >= 200 && status < 300) {
      WriteLog(log_,
               "notify webhook " + job.words + " delivered (HTTP " + std::to_string(status) + ")");
      break;
    }
    const std::string why = code != CURLE_OK
                                ? std::string(error[0] ? error : curl_easy_strerror(code))
                                : "HTTP " + std::to_string(status);
    const bool again = WorthRetrying(code, status) && attempt <= settings_.retries;
    WriteLog(log_, "notify webhook " + job.words + " failed (attempt " + std::to_string(attempt) +
                       "): " + LogText(why) +
                       (again ? "; trying again in " + std::to_string(backoff.count()) + " ms"
                              : "; giving up"));
    if (!again || !queue_.Pause(backoff)) break;
    backoff *= 2;
  }
  curl_slist_free_all(headers);
}

}  // namespace corvantis::server
