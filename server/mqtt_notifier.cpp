#include "server/mqtt_notifier.h"

#include <mosquitto.h>
#include <unistd.h>

#include <stdexcept>

#include "server/data_dir.h"
#include "server/disk.h"
#include "server/log.h"
#include "server/notice_format.h"

namespace corvantis::server {

namespace {

void InitMosquitto() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

constexpr int kQos = 1;
constexpr int kKeepAliveSeconds = 30;

}  // namespace

MqttNotifier::MqttNotifier(MqttSettings settings, std::filesystem::path dataDir,
                           std::size_t queueLimit, EventHub& hub, LogSink log)
    : settings_(std::move(settings)),
      dataDir_(std::move(dataDir)),
      queueLimit_(queueLimit ? queueLimit : 1),
      log_(std::move(log)),
      hub_(hub) {
  InitMosquitto();
  const std::string id = "corvantis-server-" + std::to_string(::getpid());
  client_ = mosquitto_new(id.c_str(), true, this);
  if (!client_) throw std::runtime_error("cannot make an MQTT client");
  mosquitto_connect_callback_set(client_, [](mosquitto*, void* self, int rc) {
    static_cast<MqttNotifier*>(self)->Connected(rc);
  });
  mosquitto_disconnect_callback_set(client_, [](mosquitto*, void* self, int rc) {
    static_cast<MqttNotifier*>(self)->Disconnected(rc);
  });
  mosquitto_publish_callback_set(client_, [](mosquitto*, void* self, int mid) {
    static_cast<MqttNotifier*>(self)->Published(mid);
  });
  if (!settings_.user.empty()) {
    mosquitto_username_pw_set(client_, settings_.user.c_str(),
                              settings_.password.empty() ? nullptr : settings_.password.c_str());
  }
  mosquitto_reconnect_delay_set(client_, 1, 30, true);
  mosquitto_int_option(client_, MOSQ_OPT_SEND_MAXIMUM, kWindow);
  // The network thread first, then the connection: a broker that is down at this moment is
  // then tried again by that thread until it answers.
  mosquitto_loop_start(client_);
  const int rc =
      mosquitto_connect_async(client_, settings_.host.c_str(), settings_.port, kKeepAliveSeconds);
  if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_ERRNO) {
    WriteLog(log_,
             "notify mqtt cannot connect to " + settings_.host + ": " + mosquitto_strerror(rc));
  }
  subscription_ = hub_.Subscribe([this](const Notice& notice) { Listen(notice); });
  thread_ = std::thread([this] { Run(); });
}

MqttNotifier::~MqttNotifier() {
  hub_.Unsubscribe(subscription_);
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
  }
  thread_.join();
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, false);
  mosquitto_destroy(client_);
  std::lock_guard lock(mutex_);
  const std::size_t undelivered = queue_.size() + unacknowledged_.size();
  if (dropped_ || undelivered) {
    WriteLog(log_, "notify mqtt stopped with " + std::to_string(dropped_) + " messages dropped, " +
                       std::to_string(undelivered) + " undelivered");
  }
}

std::string MqttNotifier::Topic(const std::string& user, const char* leaf) const {
  return settings_.prefix + "/" + UserFolderName(user) + "/" + leaf;
}

void MqttNotifier::Listen(const Notice& notice) {
  std::lock_guard lock(mutex_);
  if (notice.kind == Notice::Kind::kSnapshotStored) {
    const std::string topic = Topic(notice.event.user, "snapshot");
    auto [it, fresh] = newest_.insert_or_assign(topic, notice.file);
    if (fresh) {
      if (newest_.size() > queueLimit_) {
        newest_.erase(it);
        ++dropped_;
        return;
      }
      newestOrder_.push_back(topic);
    }
  } else {
    if (queue_.size() + 2 > queueLimit_) {
      dropped_ += 2;
      return;
    }
    const bool open = notice.kind == Notice::Kind::kEventOpened;
    queue_.push_back({Topic(notice.event.user, "event"), EventJson(notice.event), false,
                      EventLogWords(notice.event)});
    queue_.push_back({Topic(notice.event.user, "motion"), open ? "ON" : "OFF", true, {}});
  }
  wake_.notify_all();
}

void MqttNotifier::Run() {
  std::unique_lock lock(mutex_);
  uint64_t droppedLogged = 0;
  for (;;) {
    wake_.wait(lock, [this] {
      return stopping_ ||
             (connected_ && inFlight_ < kWindow && (!queue_.empty() || !newestOrder_.empty()));
    });
    if (stopping_) return;
    if (dropped_ != droppedLogged) {
      WriteLog(log_, "notify mqtt dropped " + std::to_string(dropped_ - droppedLogged) +
                         " messages: queue full");
      droppedLogged = dropped_;
    }
    Message message;
    std::string file;
    if (!queue_.empty()) {
      message = std::move(queue_.front());
      queue_.pop_front();
    } else {
      message.topic = std::move(newestOrder_.front());
      newestOrder_.pop_front();
      file = newest_.at(message.topic);
      newest_.erase(message.topic);
      message.retain = true;
    }
    ++inFlight_;
    lock.unlock();
    bool ready = true;
    if (!file.empty()) {
      // Read now rather than held in memory while waiting; a snapshot removed meanwhile by
      // retention is simply not published.
      auto data = ReadWholeFile(dataDir_ / file);
      ready = data.has_value();
      if (ready) message.payload = std::move(*data);
    }
    int mid = 0;
    const int rc = ready ? mosquitto_publish(client_, &mid, message.topic.c_str(),
                                             static_cast<int>(message.payload.size()),
                                             message.payload.data(), kQos, message.retain)
                         : MOSQ_ERR_NOT_FOUND;
    lock.lock();
    if (rc == MOSQ_ERR_NO_CONN && file.empty()) {
      // Lost the broker in the meantime: the message waits for the next connection.
      --inFlight_;
      connected_ = false;
      queue_.push_front(std::move(message));
    } else if (rc != MOSQ_ERR_SUCCESS) {
      --inFlight_;
      if (ready) {
        WriteLog(log_, "notify mqtt " + (message.words.empty() ? message.topic : message.words) +
                           " failed: " + mosquitto_strerror(rc));
      }
    } else if (earlyAcks_.erase(mid)) {
      if (!message.words.empty()) WriteLog(log_, "notify mqtt " + message.words + " delivered");
    } else {
      unacknowledged_[mid] = std::move(message.words);
    }
  }
}

void MqttNotifier::Published(int mid) {
  std::lock_guard lock(mutex_);
  --inFlight_;
  auto it = unacknowledged_.find(mid);
  if (it != unacknowledged_.end()) {
    if (!it->second.empty()) WriteLog(log_, "notify mqtt " + it->second + " delivered");
    unacknowledged_.erase(it);
  } else {
    earlyAcks_.insert(mid);
  }
  wake_.notify_all();
}

void MqttNotifier::Connected(int rc) {
  std::lock_guard lock(mutex_);
  if (rc != 0) {
    WriteLog(log_,
             std::string("notify mqtt refused by the broker: ") + mosquitto_connack_string(rc));
    return;
  }
  connected_ = true;
  WriteLog(log_, std::string("notify mqtt ") + (everConnected_ ? "reconnected" : "connected") +
                     " to " + settings_.host + ":" + std::to_string(settings_.port));
  everConnected_ = true;
  wake_.notify_all();
}

void MqttNotifier::Disconnected(int rc) {
  std::lock_guard lock(mutex_);
  if (connected_ && rc != 0) WriteLog(log_, "notify mqtt lost the broker; reconnecting");
  connected_ = false;
}

}  // namespace corvantis::server
