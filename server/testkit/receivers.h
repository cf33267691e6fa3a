// The real receivers of notifications, started on loopback by tests and benchmarks: the
// mosquitto broker from Debian, the HTTP receiver beside this file (Python's http.server),
// and an MQTT subscriber (libmosquitto) that records what arrives.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "server/testkit/child_process.h"

struct mosquitto;

namespace corvantis::server::testkit {

// /usr/sbin/mosquitto listening on address:port, configured in `dir`; with a login, only
// that user and password are let in.
class MosquittoBroker {
 public:
  struct Login {
    std::string user, password;
  };
  MosquittoBroker(std::string address, uint16_t port, std::filesystem::path dir,
                  std::optional<Login> login = std::nullopt);
  // Starts it and waits until it accepts connections; throws when it does not start.
  void Start();
  // Ends it (SIGKILL, as a crash would) and waits.
  void Stop();
  const std::string& address() const { return address_; }
  uint16_t port() const { return port_; }

 private:
  std::string address_;
  uint16_t port_;
  std::filesystem::path dir_;
  std::unique_ptr<ChildProcess> process_;
};

// The HTTP receiver on `address`, a port of the system's choosing.
class HttpReceiver {
 public:
  explicit HttpReceiver(const std::string& address);
  // "http://ADDRESS:PORT" + path.
  std::string Url(const std::string& path) const;
  // The JSON lines of the requests received so far.
  std::vector<std::string> Requests();
  // Waits until `count` requests have come; false when the time passes first.
  bool WaitForRequests(std::size_t count, std::chrono::seconds timeout = std::chrono::seconds(20));

 private:
  std::unique_ptr<ChildProcess> process_;
  std::string base_;
};

// An MQTT client subscribed to `filter` on the broker; records every message.
class MqttSubscriber {
 public:
  struct Message {
    std::string topic;
    std::string payload;
    bool retained = false;
    std::chrono::steady_clock::time_point arrived;
  };
  // Returns once the broker has confirmed the subscription; throws when it does not.
  MqttSubscriber(const std::string& host, uint16_t port, const std::string& filter,
                 std::optional<MosquittoBroker::Login> login = std::nullopt);
  ~MqttSubscriber();
  MqttSubscriber(const MqttSubscriber&) = delete;
  MqttSubscriber& operator=(const MqttSubscriber&) = delete;

  std::vector<Message> Messages();
  // Waits until `count` messages on `topic` have arrived; false when the time passes first.
  bool WaitFor(const std::string& topic, std::size_t count,
               std::chrono::seconds timeout = std::chrono::seconds(20));
  // Waits until `done` holds for the messages so far; false when the time passes first.
  bool WaitUntil(const std::function<bool(const std::vector<Message>&)>& done,
                 std::chrono::seconds timeout = std::chrono::seconds(20));
  // Calls `seen` (on the client's thread) for each message as it arrives, from now on,
  // instead of recording it.
  void OnMessage(std::function<void(const Message&)> seen);

 private:
  mosquitto* client_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Message> messages_;
  std::function<void(const Message&)> seen_;
  bool subscribed_ = false;
  bool keep_ = true;
};

}  // namespace corvantis::server::testkit
