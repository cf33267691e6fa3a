#include "server/testkit/receivers.h"

#include <mosquitto.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace corvantis::server::testkit {

namespace fs = std::filesystem;

MosquittoBroker::MosquittoBroker(std::string address, uint16_t port, fs::path dir,
                                 std::optional<Login> login)
    : address_(std::move(address)), port_(port), dir_(std::move(dir)) {
  fs::create_directories(dir_);
  std::ofstream config(dir_ / "mosquitto.conf");
  config << "listener " << port_ << " " << address_ << "\n"
         << "log_dest stderr\nlog_type error\nlog_type warning\nlog_type notice\nlog_type "
            "information\n"
         << "persistence false\n";
  // As root it would switch to its own user, who cannot read this test's private folder.
  if (geteuid() == 0) config << "user root\n";
  if (login) {
    const fs::path passwords = dir_ / "passwords";
    std::ofstream(passwords).close();
    if (RunToEnd({"/usr/bin/mosquitto_passwd", "-b", passwords.string(), login->user,
                  login->password}) != 0) {
      throw std::runtime_error("mosquitto_passwd failed");
    }
    config << "allow_anonymous false\npassword_file " << passwords.string() << "\n";
  } else {
    config << "allow_anonymous true\n";
  }
}

void MosquittoBroker::Start() {
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/sbin/mosquitto", "-c", (dir_ / "mosquitto.conf").string()});
  if (!process_->WaitForLine(ChildProcess::kErrors, " running")) {
    process_->Signal(SIGKILL);
    throw std::runtime_error("mosquitto did not start: " + process_->AllOf(ChildProcess::kErrors));
  }
}

void MosquittoBroker::Stop() {
  process_.reset();
}

HttpReceiver::HttpReceiver(const std::string& address) {
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/python3", CORVANTIS_HTTP_RECEIVER, address});
  const auto ready = process_->ReadLine();
  if (!ready || !ready->starts_with("listening on ")) {
    process_->Signal(SIGKILL);
    throw std::runtime_error("the HTTP receiver did not start: " +
                             process_->AllOf(ChildProcess::kErrors));
  }
  base_ = "http://" + ready->substr(13);
}

std::string HttpReceiver::Url(const std::string& path) const {
  return base_ + path;
}

std::vector<std::string> HttpReceiver::Requests() {
  auto lines = process_->Lines(ChildProcess::kOutput);
  lines.erase(lines.begin());  // the readiness line
  return lines;
}

bool HttpReceiver::WaitForRequests(std::size_t count, std::chrono::seconds timeout) {
  // Each request is one output line after the readiness line.
  return process_->WaitUntil(
      ChildProcess::kOutput,
      [count](const std::vector<std::string>& lines) { return lines.size() >= count + 1; },
      timeout);
}

MqttSubscriber::MqttSubscriber(const std::string& host, uint16_t port, const std::string& filter,
                               std::optional<MosquittoBroker::Login> login) {
  mosquitto_lib_init();
  client_ = mosquitto_new(nullptr, true, this);
  if (!client_) throw std::runtime_error("mosquitto_new failed");
  if (login) mosquitto_username_pw_set(client_, login->user.c_str(), login->password.c_str());
  mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
    auto* me = static_cast<MqttSubscriber*>(self);
    std::lock_guard lock(me->mutex_);
    me->subscribed_ = true;
    me->changed_.notify_all();
  });
  mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m) {
    auto* me = static_cast<MqttSubscriber*>(self);
    Message message{
        m->topic,
        std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen)),
        m->retain, std::chrono::steady_clock::now()};
    std::lock_guard lock(me->mutex_);
    if (me->seen_) me->seen_(message);
    if (me->keep_) me->messages_.push_back(std::move(message));
    me->changed_.notify_all();
  });
  if (mosquitto_connect(client_, host.c_str(), port, 30) != MOSQ_ERR_SUCCESS ||
      mosquitto_subscribe(client_, nullptr, filter.c_str(), 1) != MOSQ_ERR_SUCCESS ||
      mosquitto_loop_start(client_) != MOSQ_ERR_SUCCESS) {
    mosquitto_destroy(client_);
    throw std::runtime_error("cannot subscribe to " + filter);
  }
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, std::chrono::seconds(20), [this] { return subscribed_; })) {
    throw std::runtime_error("the broker did not confirm the subscription");
  }
}

MqttSubscriber::~MqttSubscriber() {
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, false);
  mosquitto_destroy(client_);
}

std::vector<MqttSubscriber::Message> MqttSubscriber::Messages() {
  std::lock_guard lock(mutex_);
  return messages_;
}

bool MqttSubscriber::WaitFor(const std::string& topic, std::size_t count,
                             std::chrono::seconds timeout) {
  return WaitUntil(
      [&](const std::vector<Message>& messages) {
        return static_cast<std::size_t>(std::count_if(messages.begin(), messages.end(),
                                                      [&](auto& m) { return m.topic == topic; })) >=
               count;
      },
      timeout);
}

bool MqttSubscriber::WaitUntil(const std::function<bool(const std::vector<Message>&)>& done,
                               std::chrono::seconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return done(messages_); });
}

void MqttSubscriber::OnMessage(std::function<void(const Message&)> seen) {
  std::lock_guard lock(mutex_);
  seen_ = std::move(seen);
  keep_ = false;
}

}  // namespace corvantis::server::testkit
