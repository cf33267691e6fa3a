#include "net/login_exchange.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "app/app_windows.h"
#include "net/server_link.h"
#include "platform/headless/headless.h"
#include "platform/sockets_testing.h"
#include "tests/support/main_window.h"
#include "tests/support/script_server.h"
#include "tests/support/socket_faults.h"

namespace {

// The name the tests give the server; each test points it at an address of its own.
constexpr char kTestHost[] = "alarm-server.test";

class LoginExchangeTest : public ::testing::Test {
 protected:
  // Points the server's name at 127.83.2.`last`.
  void UseAddress(int last) {
    address_ = "127.83.2." + std::to_string(last);
    std::strcpy(serverHostName, kTestHost);
    ASSERT_TRUE(SetTestHostAddress(kTestHost, address_.c_str()));
  }
  void SetUp() override {
    MainWindow = testsupport::CreateTestMainWindow();
    ASSERT_NE(MainWindow, nullptr);
    serverTimeoutMilliseconds = 10000;
    headless::ClearLogs();
    testsupport::InstallSocketFaults();
  }
  void TearDown() override {
    socketCalls = kDefaultSocketCalls;
    ClearTestHostAddresses();
  }
  // Checks the one error box shown: its number and message.
  static void ExpectOneBox(const std::string& number, const std::string& message) {
    auto boxes = headless::Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error number: " + number);
    EXPECT_EQ(boxes[0].text.substr(0, message.size() + 1), message + "\n");
    EXPECT_EQ(boxes[0].owner, MainWindow);
  }

  std::string address_;
};

TEST_F(LoginExchangeTest, AnAcceptedLoginGivesTheReplyToThePasswordAndKeepsWhatUploadsNeed) {
  UseAddress(1);
  testsupport::ScriptServer server(address_);
  ASSERT_TRUE(server.Listening());
  server.Expect("alice\n").Reply("200 hello").Expect("pw 1234\n").Reply("200 welcome alice");
  server.Expect("QUIT\n").Reply("221 bye");
  server.Start();

  std::string result = LoginExchange("alice\n", "pw 1234\n");
  EXPECT_EQ(server.Finish(), "alice\npw 1234\nQUIT\n");
  EXPECT_EQ(result, "200 welcome alice");
  EXPECT_STREQ(storedUserName, "alice\n");
  EXPECT_STREQ(storedPassword, "pw 1234\n");
  EXPECT_EQ(serverHost.valid, 1);
  const uint8_t expected[4] = {127, 83, 2, 1};
  EXPECT_EQ(std::memcmp(&serverHost.address, expected, 4), 0);
  EXPECT_TRUE(headless::Boxes().empty());
  EXPECT_TRUE(testsupport::SocketLibraryReleased());
}

TEST_F(LoginExchangeTest, RefusalsEndTheExchangeWithTheServersReply) {
  // The user name refused: the password is never sent.
  UseAddress(2);
  {
    testsupport::ScriptServer server(address_);
    ASSERT_TRUE(server.Listening());
    server.Expect("mallory\n").Reply("300 no such user");
    server.Start();
    std::string result = LoginExchange("mallory\n", "secret\n");
    EXPECT_EQ(server.Finish(), "mallory\n");
    EXPECT_EQ(result, "300 no such user");
  }
  // The password refused.
  {
    testsupport::ScriptServer server(address_);
    server.Expect("alice\n").Reply("200 hello").Expect("wrong\n").Reply("300 bad password");
    server.Start();
    std::string result = LoginExchange("alice\n", "wrong\n");
    EXPECT_EQ(server.Finish(), "alice\nwrong\n");
    EXPECT_EQ(result, "300 bad password");
  }
  // "QUIT\n" refused: an accepted password becomes a refused login.
  {
    testsupport::ScriptServer server(address_);
    server.Expect("alice\n").Reply("200 hello").Expect("secret\n").Reply("200 welcome");
    server.Expect("QUIT\n").Reply("300 not now");
    server.Start();
    std::string result = LoginExchange("alice\n", "secret\n");
    EXPECT_EQ(server.Finish(), "alice\nsecret\nQUIT\n");
    EXPECT_EQ(result, "300 not now");
  }
  EXPECT_TRUE(headless::Boxes().empty());
  EXPECT_TRUE(testsupport::SocketLibraryReleased());
}

TEST_F(LoginExchangeTest, ShortRepliesAreNoRefusalAndLeaveNothingOfLongerOnes) {
  UseAddress(3);
  testsupport::ScriptServer server(address_);
  ASSERT_TRUE(server.Listening());
  server.Expect("alice\n").Reply("200 a reply much longer than the next one");
  server.Expect("secret\n").Reply("30").Expect("QUIT\n").Reply("3");
  server.Start();
  std::string result = LoginExchange("alice\n", "secret\n");
  EXPECT_EQ(server.Finish(), "alice\nsecret\nQUIT\n");
  EXPECT_EQ(result, "30");
  EXPECT_STREQ(ServerReply, "3");
}

TEST_F(LoginExchangeTest, AServerThatClosesAfterTheUserNameGivesTheConfirmationBox) {
  UseAddress(4);
  testsupport::ScriptServer server(address_);
  ASSERT_TRUE(server.Listening());
  server.Expect("alice\n").Close();
  server.Start();
  std::string result = LoginExchange("alice\n", "secret\n");
  server.Finish();
  EXPECT_EQ(result, "300 .");
  auto boxes = headless::Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption.rfind("Error number: ", 0), 0u);
  EXPECT_EQ(boxes[0].text.rfind("Sorry! Unable receive confirmation\n", 0), 0u);
  EXPECT_TRUE(testsupport::SocketLibraryReleased());
}

TEST_F(LoginExchangeTest, AResetAfterThePasswordIsReportedWithItsErrorCode) {
  UseAddress(5);
  testsupport::ScriptServer server(address_);
  ASSERT_TRUE(server.Listening());
  server.Expect("alice\n").Reply("200 hello").Expect("secret\n").Reset();
  server.Start();
  std::string result = LoginExchange("alice\n", "secret\n");
  server.Finish();
  EXPECT_EQ(result, "300 ");
  ExpectOneBox("10054", "Sorry! Unable receive confirmation");
}

TEST_F(LoginExchangeTest, ALostReplyToQuitIsReported) {
  UseAddress(6);
  testsupport::ScriptServer server(address_);
  ASSERT_TRUE(server.Listening());
  server.Expect("alice\n").Reply("200 hello").Expect("secret\n").Reply("200 welcome");
  server.Expect("QUIT\n").Reset();
  server.Start();
  std::string result = LoginExchange("alice\n", "secret\n");
  server.Finish();
  EXPECT_EQ(result, "300 ");
  ExpectOneBox("10054", "Sorry! Unable receive closed connection confirmation");
}

TEST_F(LoginExchangeTest, ASilentServerRunsOutOfTheTimeOut) {
  UseAddress(7);
  serverTimeoutMilliseconds = 100;
  testsupport::ScriptServer server(address_);
  ASSERT_TRUE(server.Listening());
  server.Expect("alice\n");  // and then nothing
  server.Start();
  std::string result = LoginExchange("alice\n", "secret\n");
  server.Finish();
  EXPECT_EQ(result, "300 .");
  ExpectOneBox("10060", "Sorry! Unable receive confirmation");
  EXPECT_TRUE(server.ClientClosed());
}

TEST_F(LoginExchangeTest, AnUnreachableServerGivesCannotConnectAndNoBox) {
  UseAddress(8);  // nobody listens there
  std::string result = LoginExchange("alice\n", "secret\n");
  EXPECT_EQ(result, "300 Cannot connect socket");
  EXPECT_TRUE(headless::Boxes().empty());
  // The credentials are replaced whatever the outcome.
  EXPECT_STREQ(storedUserName, "alice\n");
  EXPECT_STREQ(storedPassword, "secret\n");
  EXPECT_EQ(serverHost.valid, 1);
  EXPECT_TRUE(testsupport::SocketLibraryReleased());
}

TEST_F(LoginExchangeTest, FailedSendsAreReportedWithTheirErrorCodes) {
  UseAddress(9);
  struct Case {
    int failingSend;
    const char* message;
    const char* result;
    const char* transcript;
  };
  const Case cases[] = {
      {1, "Sorry! Unable to send user's name", "300 ", ""},
      {2, "Sorry! Unable to send user password", "300 ", "alice\n"},
      {3, "Sorry! Unable send close command", "300 Cannot close connection", "alice\nsecret\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    headless::ClearLogs();
    testsupport::ScriptServer server(address_);
    ASSERT_TRUE(server.Listening());
    server.Expect("alice\n").Reply("200 hello").Expect("secret\n").Reply("200 welcome");
    server.Expect("QUIT\n").Reply("221 bye");
    server.Start();
    testsupport::InstallSocketFaults();
    testsupport::socketFaults.failSend = c.failingSend;
    testsupport::socketFaults.sendError = WSAECONNABORTED;
    std::string result = LoginExchange("alice\n", "secret\n");
    EXPECT_EQ(server.Finish(), c.transcript);
    EXPECT_EQ(result, c.result);
    ExpectOneBox("10053", c.message);
    EXPECT_TRUE(testsupport::SocketLibraryReleased());
  }
}

TEST_F(LoginExchangeTest, FailuresBeforeTheConnection) {
  UseAddress(10);
  // The socket library does not start: the box carries the start-up's own result.
  socketCalls.WSAStartup = [](WORD, WSADATA*) { return WSASYSNOTREADY; };
  EXPECT_STREQ(LoginExchange("alice\n", "secret\n"), "300 Unable to initialize WinSock library");
  ExpectOneBox("10091", "Sorry! Unable to initialize window socket");
  EXPECT_STREQ(storedUserName, "alice\n");
  socketCalls.WSAStartup = kDefaultSocketCalls.WSAStartup;

  // The lookup fails: no address is kept.
  headless::ClearLogs();
  serverHost.valid = 1;
  socketCalls.gethostbyname = [](const char*) -> hostent* {
    WSASetLastError(WSAHOST_NOT_FOUND);
    return nullptr;
  };
  EXPECT_STREQ(LoginExchange("bob\n", "secret\n"), "300 Cannot resolve hostname");
  ExpectOneBox("11001", "Sorry! Unable get server's name");
  EXPECT_EQ(serverHost.valid, 0);
  EXPECT_STREQ(storedUserName, "bob\n");
  EXPECT_TRUE(testsupport::SocketLibraryReleased());
  socketCalls.gethostbyname = kDefaultSocketCalls.gethostbyname;

  // No socket: no box, the dialog shows the text.
  headless::ClearLogs();
  socketCalls.socket = [](int, int, int) {
    WSASetLastError(WSAEMFILE);
    return INVALID_SOCKET;
  };
  EXPECT_STREQ(LoginExchange("alice\n", "secret\n"), "300 Cannot create socket");
  EXPECT_TRUE(headless::Boxes().empty());
  EXPECT_TRUE(testsupport::SocketLibraryReleased());
}

TEST_F(LoginExchangeTest, ALoginHoldsTheServerLinkForItsWholeRun) {
  UseAddress(11);
  testsupport::ScriptServer server(address_);
  ASSERT_TRUE(server.Listening());
  server.Expect("alice\n").Reply("200 hello").Expect("secret\n").Hold().Reply("200 welcome");
  server.Expect("QUIT\n").Reply("221 bye");
  server.Start();
  std::string result;
  std::thread login([&result] { result = LoginExchange("alice\n", "secret\n"); });
  ASSERT_TRUE(server.WaitUntilHeld());
  // Mid-login the link is taken: an upload finishing meanwhile would wait.
  EXPECT_FALSE(serverLinkMutex.try_lock());
  server.Release();
  login.join();
  EXPECT_EQ(result, "200 welcome");
  ASSERT_TRUE(serverLinkMutex.try_lock());
  serverLinkMutex.unlock();
  server.Finish();
}

TEST(ServerLink, TheHostNameComesFromTheBuildByteForByte) {
  std::memset(serverHostName, 'x', sizeof serverHostName);
  SetServerHostName();
  EXPECT_STREQ(serverHostName, CORVANTIS_SERVER_HOST);
  EXPECT_LE(std::strlen(serverHostName), 26u);
}

}  // namespace
