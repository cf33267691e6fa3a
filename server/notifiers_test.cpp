// Notifications against real receivers on loopback: the mosquitto broker, an HTTP receiver,
// a shell command. Events open and close on a clock moved by hand.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include <fstream>
#include <nlohmann/json.hpp>

#include "server/test_support.h"
#include "server/testkit/receivers.h"

namespace corvantis::server {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using testing::PseudoRandomBytes;
using testing::TempDir;
using testing::TestAddress;
using testing::TestEpoch;
using testing::TestServer;
using testing::Upload;
using testkit::MosquittoBroker;
using testkit::MqttSubscriber;
using json = nlohmann::json;

constexpr uint16_t kBrokerPort = 1883;  // on this test's own loopback address

// The payload of the latest message on `topic`.
std::string Latest(MqttSubscriber& watcher, const std::string& topic) {
  std::string payload;
  for (const auto& message : watcher.Messages()) {
    if (message.topic == topic) payload = message.payload;
  }
  return payload;
}

TEST(Notifiers, MqttAnnouncesEventsMotionAndTheNewestSnapshotRetained) {
  TempDir brokerDir;
  MosquittoBroker broker(TestAddress(), kBrokerPort, brokerDir.path());
  broker.Start();
  MqttSubscriber watcher(TestAddress(), kBrokerPort, "corvantis/#");
  ManualClock clock(TestEpoch());
  TestServer server([&](ServerOptions& o) {
    o.clock = &clock;
    o.notify.mqtt.host = TestAddress();
    o.notify.mqtt.port = kBrokerPort;
  });
  server.WaitForLog("notify mqtt connected to " + TestAddress());
  testing::AddUser(server.dataDir(), "bob smith", "secret1");
  const std::string base = "corvantis/bob%20smith/";

  auto client = server.LogIn("bob smith", "secret1");
  const std::string first = PseudoRandomBytes(5000, 1), second = PseudoRandomBytes(7000, 2);
  const std::string stored = Upload(*client, first);
  ASSERT_TRUE(watcher.WaitFor(base + "snapshot", 1));
  clock.Advance(seconds(20));
  ASSERT_TRUE(Upload(*client, second).starts_with("250 Stored"));
  ASSERT_TRUE(watcher.WaitFor(base + "snapshot", 2));
  clock.Advance(seconds(31));
  ASSERT_TRUE(watcher.WaitFor(base + "event", 2));
  ASSERT_TRUE(watcher.WaitFor(base + "motion", 2));

  std::vector<json> events;
  std::vector<std::string> motion, snapshots;
  for (const auto& message : watcher.Messages()) {
    if (message.topic == base + "event") events.push_back(json::parse(message.payload));
    if (message.topic == base + "motion") motion.push_back(message.payload);
    if (message.topic == base + "snapshot") snapshots.push_back(message.payload);
  }
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0]["state"], "open");
  EXPECT_EQ(events[0]["user"], "bob smith");
  EXPECT_EQ(events[0]["count"], 1);
  EXPECT_EQ(events[0]["bytes"], 5000);
  EXPECT_EQ(events[0]["start"], FormatTime(TestEpoch()));
  EXPECT_EQ("250 Stored " + events[0]["snapshot"].get<std::string>() + " (5000 bytes).", stored);
  EXPECT_EQ(events[1]["state"], "closed");
  EXPECT_EQ(events[1]["event"], events[0]["event"]);
  EXPECT_EQ(events[1]["count"], 2);
  EXPECT_EQ(events[1]["bytes"], 12000);
  EXPECT_EQ(events[1]["end"], FormatTime(TestEpoch() + seconds(20)));
  EXPECT_EQ(motion, (std::vector<std::string>{"ON", "OFF"}));
  EXPECT_EQ(snapshots, (std::vector<std::string>{first, second}));
  server.WaitForLog("notify mqtt event=1 state=open user=bob\\x20smith delivered");
  server.WaitForLog("notify mqtt event=1 state=closed user=bob\\x20smith delivered");

  // A dashboard that connects later sees the state and the newest picture at once.
  MqttSubscriber late(TestAddress(), kBrokerPort, base + "+");
  ASSERT_TRUE(late.WaitFor(base + "snapshot", 1));
  ASSERT_TRUE(late.WaitFor(base + "motion", 1));
  for (const auto& message : late.Messages()) {
    EXPECT_TRUE(message.retained);
    EXPECT_EQ(message.payload, message.topic == base + "motion" ? "OFF" : second);
  }
}

TEST(Notifiers, MqttLogsInWaitsForTheBrokerAndReconnectsByItself) {
  TempDir brokerDir;
  const MosquittoBroker::Login login{"server", "broker-secret"};
  MosquittoBroker broker(TestAddress(), kBrokerPort, brokerDir.path(), login);
  // The broker is not up yet when the server starts.
  TestServer server([&](ServerOptions& o) {
    o.notify.mqtt.host = TestAddress();
    o.notify.mqtt.port = kBrokerPort;
    o.notify.mqtt.user = login.user;
    o.notify.mqtt.password = login.password;
  });
  testing::AddUser(server.dataDir(), "alice", "secret1");
  auto client = server.LogIn("alice", "secret1");
  ASSERT_TRUE(Upload(*client, "first").starts_with("250 Stored"));

  broker.Start();
  server.WaitForLog("notify mqtt connected");
  {
    MqttSubscriber watcher(TestAddress(), kBrokerPort, "corvantis/alice/#", login);
    ASSERT_TRUE(watcher.WaitFor("corvantis/alice/motion", 1));  // retained: never missed
    ASSERT_TRUE(watcher.WaitFor("corvantis/alice/snapshot", 1));
    EXPECT_EQ(Latest(watcher, "corvantis/alice/snapshot"), "first");
  }
  server.WaitForLog("notify mqtt event=1 state=open user=alice delivered");

  // The broker dies and comes back (without its retained messages): the server notices,
  // reconnects, and the next snapshot gets through.
  broker.Stop();
  broker.Start();
  server.WaitForLog("notify mqtt reconnected");
  MqttSubscriber watcher(TestAddress(), kBrokerPort, "corvantis/alice/#", login);
  ASSERT_TRUE(Upload(*client, "second").starts_with("250 Stored"));
  // (A message the dead broker took but never acknowledged may come again first: QoS 1 is
  // at least once.)
  EXPECT_TRUE(watcher.WaitUntil([](const std::vector<MqttSubscriber::Message>& messages) {
    return !messages.empty() && messages.back().topic == "corvantis/alice/snapshot" &&
           messages.back().payload == "second";
  }));

  // The wrong password is refused by the broker, and said so.
  TestServer stranger([&](ServerOptions& o) {
    o.listenAddress = TestAddress(1);
    o.notify.mqtt.host = TestAddress();
    o.notify.mqtt.port = kBrokerPort;
    o.notify.mqtt.user = login.user;
    o.notify.mqtt.password = "guess";
  });
  stranger.WaitForLog("notify mqtt refused by the broker");
}

TEST(Notifiers, WebhookPostsEachEventAndRetriesWithBackOffUntilTheReceiverTakesIt) {
  testkit::HttpReceiver receiver(TestAddress(1));
  ManualClock clock(TestEpoch());
  TestServer server([&](ServerOptions& o) {
    o.clock = &clock;
    o.notify.webhook.url = receiver.Url("/flaky/2");  // 500, 500, then 200
    o.notify.webhook.backoff = milliseconds(10);
  });
  testing::AddUser(server.dataDir(), "alice", "secret1");
  ASSERT_TRUE(Upload(*server.LogIn("alice", "secret1"), "jpeg").starts_with("250 Stored"));
  ASSERT_TRUE(receiver.WaitForRequests(3));
  server.WaitForLog("notify webhook event=1 state=open user=alice delivered (HTTP 200)");
  clock.Advance(seconds(31));
  ASSERT_TRUE(receiver.WaitForRequests(4));
  server.WaitForLog("notify webhook event=1 state=closed user=alice delivered (HTTP 200)");

  const auto requests = receiver.Requests();
  for (const auto& line : requests) {
    const json request = json::parse(line);
    EXPECT_EQ(request["type"], "application/json");
    EXPECT_EQ(request["path"], "/flaky/2");
  }
  const json opened = json::parse(json::parse(requests[0])["body"].get<std::string>());
  EXPECT_EQ(opened["state"], "open");
  EXPECT_EQ(opened["user"], "alice");
  EXPECT_EQ(opened["count"], 1);
  EXPECT_EQ(json::parse(requests[2])["body"], json::parse(requests[0])["body"]);
  const json closed = json::parse(json::parse(requests[3])["body"].get<std::string>());
  EXPECT_EQ(closed["state"], "closed");
  EXPECT_EQ(closed["event"], opened["event"]);
  server.WaitForLog("failed (attempt 1): HTTP 500; trying again in 10 ms");
  server.WaitForLog("failed (attempt 2): HTTP 500; trying again in 20 ms");

  // A refusal that another try would not change is not tried again.
  TestServer refused([&](ServerOptions& o) {
    o.listenAddress = TestAddress(2);
    o.notify.webhook.url = receiver.Url("/status/404");
    o.notify.webhook.backoff = milliseconds(10);
  });
  testing::AddUser(refused.dataDir(), "alice", "secret1");
  ASSERT_TRUE(Upload(*refused.LogIn("alice", "secret1"), "jpeg").starts_with("250 Stored"));
  refused.WaitForLog("failed (attempt 1): HTTP 404; giving up");
  ASSERT_TRUE(receiver.WaitForRequests(5));
  EXPECT_EQ(receiver.Requests().size(), 5u);
}

TEST(Notifiers, TheCommandSeesTheFactsOnlyInItsEnvironment) {
  ::setenv("CORVANTIS_STALE", "from the server's own environment", 1);
  const std::string injected = "$(echo INJECTED)";  // a valid user name
  TestServer server([&](ServerOptions& o) {
    o.notify.command.command =
        "printf '%s\\n' \"state=$CORVANTIS_STATE\" \"user=$CORVANTIS_USER\""
        " \"event=$CORVANTIS_EVENT\" \"count=$CORVANTIS_COUNT\" \"bytes=$CORVANTIS_BYTES\""
        " \"start=$CORVANTIS_START\" \"args=$#\";"
        " cmp -s \"$CORVANTIS_SNAPSHOT\" /dev/stdin <<EOF && echo same-snapshot\n"
        "jpeg\nEOF\n"
        " echo \"variables=$(env | grep -c '^CORVANTIS_')\"";
  });
  testing::AddUser(server.dataDir(), injected, "secret1");
  ASSERT_TRUE(Upload(*server.LogIn(injected, "secret1"), "jpeg\n").starts_with("250 Stored"));
  server.WaitForLog("notify command event=1 state=open user=$(echo\\x20INJECTED) delivered");
  std::vector<std::string> output;
  for (const auto& line : server.Log()) {
    const auto at = line.find("notify command output: ");
    if (at != std::string::npos) output.push_back(line.substr(at + 23));
  }
  EXPECT_EQ(output,
            (std::vector<std::string>{"state=open", "user=$(echo INJECTED)", "event=1", "count=1",
                                      "bytes=5", "start=" + output.at(5).substr(6), "args=0",
                                      "same-snapshot", "variables=8"}));
  EXPECT_TRUE(ParseTime(output.at(5).substr(6)));
  ::unsetenv("CORVANTIS_STALE");
}

// Waits up to ten seconds for the process `pid` (not a child of ours) to end; false if it
// is still running then.
bool Ends(pid_t pid) {
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return errno == ESRCH;  // gone, and already reaped
  pollfd exited{fd, POLLIN, 0};
  const bool ended = ::poll(&exited, 1, 10000) == 1;
  ::close(fd);
  return ended;
}

TEST(Notifiers, ACommandOverItsTimeIsKilledWithWhatItStartedAndAFailureIsLogged) {
  TempDir dir;
  const fs::path pidFile = dir.path() / "sleeper";
  TestServer server([&](ServerOptions& o) {
    o.notify.command.command =
        "echo started; sleep 60 & echo $! > '" + pidFile.string() + "'; wait; echo never";
    o.notify.command.timeout = milliseconds(300);
  });
  testing::AddUser(server.dataDir(), "alice", "secret1");
  ASSERT_TRUE(Upload(*server.LogIn("alice", "secret1"), "jpeg").starts_with("250 Stored"));
  server.WaitForLog(
      "notify command event=1 state=open user=alice failed: killed after its time-out");
  server.WaitForLog("notify command output: started");
  pid_t sleeper = 0;
  std::ifstream(pidFile) >> sleeper;
  ASSERT_GT(sleeper, 0);
  EXPECT_TRUE(Ends(sleeper));
  for (const auto& line : server.Log()) EXPECT_EQ(line.find("output: never"), std::string::npos);

  TestServer failing([&](ServerOptions& o) {
    o.listenAddress = TestAddress(1);
    o.notify.command.command = "exit 3";
  });
  testing::AddUser(failing.dataDir(), "alice", "secret1");
  ASSERT_TRUE(Upload(*failing.LogIn("alice", "secret1"), "jpeg").starts_with("250 Stored"));
  failing.WaitForLog("notify command event=1 state=open user=alice failed: exit=3");
}

TEST(Notifiers, ReceiversThatNeverAnswerHoldNoUploadAndWhatOverflowsIsCounted) {
  testkit::HttpReceiver receiver(TestAddress(1));
  TestServer server([&](ServerOptions& o) {
    o.eventGap = seconds(0);  // every upload an event of its own: open and close at once
    o.notify.queueLimit = 2;
    o.notify.webhook.url = receiver.Url("/hang");
    o.notify.webhook.timeout = seconds(600);
    o.notify.command.command = "sleep 600";
    o.notify.command.timeout = seconds(600);
    o.notify.mqtt.host = TestAddress(2);  // nothing listens there
    o.notify.mqtt.port = kBrokerPort;
  });
  testing::AddUser(server.dataDir(), "alice", "secret1");
  auto client = server.LogIn("alice", "secret1");
  // Each upload is answered at once (a reply waiting on a receiver would time the client
  // out after ten seconds).
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(Upload(*client, PseudoRandomBytes(100, i)).starts_with("250 Stored")) << i;
  }
  ASSERT_TRUE(receiver.WaitForRequests(1));
  server.Stop();  // cuts the hanging deliveries short
  server.WaitForLog("notify webhook dropped");
  server.WaitForLog("notify command dropped");
  server.WaitForLog("notify mqtt stopped with");
  EXPECT_EQ(testing::ReadUploads(server.dataDir()).size(), 20u);
}

}  // namespace
}  // namespace corvantis::server
