// Publishes events to an MQTT broker (libmosquitto), per account, under
// <prefix>/<folder>/ where <folder> is the account's snapshot folder name (data_dir.h: safe
// as one topic level, no wildcard, no '/'):
//   event     the event's JSON (notice_format.h) when it opens and when it closes; QoS 1
//   motion    "ON" when an event opens, "OFF" when it closes; QoS 1, retained
//   snapshot  the newest stored snapshot, the JPEG's bytes; QoS 1, retained
// so a dashboard's MQTT camera shows the latest picture and a binary sensor the motion.
//
// Messages wait in a bounded queue and go out on the notifier's own thread while the
// broker is connected, with at most a window of them unacknowledged; a snapshot waiting for
// its turn is replaced by a newer one of the same account (only the newest matters). The
// client reconnects by itself, with a back-off, after the broker goes away. Each event
// message the broker acknowledges is one log line; so are drops, connections and losses.
#pragma once

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "server/event_hub.h"
#include "server/options.h"

struct mosquitto;

namespace corvantis::server {

class MqttNotifier {
 public:
  // Starts connecting at once; a broker that cannot be reached yet is tried again and again.
  MqttNotifier(MqttSettings settings, std::filesystem::path dataDir, std::size_t queueLimit,
               EventHub& hub, LogSink log);
  // Disconnects; what was not yet acknowledged is not delivered.
  ~MqttNotifier();
  MqttNotifier(const MqttNotifier&) = delete;
  MqttNotifier& operator=(const MqttNotifier&) = delete;

  static constexpr int kWindow = 32;  // messages published and not yet acknowledged, at most

 private:
  struct Message {
    std::string topic;
    std::string payload;
    bool retain = false;
    std::string words;  // logged once the broker has it; empty: not logged
  };
  void Listen(const Notice& notice);
  void Run();
  void Published(int mid);
  void Connected(int rc);
  void Disconnected(int rc);
  std::string Topic(const std::string& user, const char* leaf) const;

  const MqttSettings settings_;
  const std::filesystem::path dataDir_;
  const std::size_t queueLimit_;
  const LogSink log_;
  EventHub& hub_;
  mosquitto* client_ = nullptr;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Message> queue_;                  // events and motion, in order
  std::map<std::string, std::string> newest_;  // snapshot topic -> newest file waiting
  std::deque<std::string> newestOrder_;        // the topics of newest_, oldest first
  std::map<int, std::string> unacknowledged_;  // message id -> words to log once acknowledged
  std::set<int> earlyAcks_;                    // acknowledged before Run had recorded them
  int inFlight_ = 0;
  bool connected_ = false;
  bool everConnected_ = false;
  bool stopping_ = false;
  uint64_t dropped_ = 0;
  uint64_t subscription_ = 0;
  std::thread thread_;
};

}  // namespace corvantis::server
