#include "net/upload_exchange.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "net/server_link.h"
#include "platform/headless/headless.h"
#include "platform/sockets_testing.h"
#include "snapshot/snapshot_writer.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/script_server.h"
#include "tests/support/socket_faults.h"

namespace {

const std::string kUser = "alice\n";
const std::string kPassword = "secret\n";
const std::string kQuit = "QUIT\n";

// Bytes 0, 1, 2, ... of a file of `size` bytes.
std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  return bytes;
}

std::string Header(size_t size) {
  return "DATA\n" + std::to_string(size) + "\n";
}

// Descriptors the process has open.
int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

class UploadExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    std::strcpy(storedUserName, kUser.c_str());
    std::strcpy(storedPassword, kPassword.c_str());
    serverTimeoutMilliseconds = 10000;
    headless::ClearLogs();
    testsupport::InstallSocketFaults();
    WriteFile(Pattern(5));
  }
  void TearDown() override { socketCalls = kDefaultSocketCalls; }

  // Points serverHost at 127.83.3.`last`; gives that address as text.
  static std::string UseAddress(int last) {
    const uint8_t bytes[4] = {127, 83, 3, static_cast<uint8_t>(last)};
    std::memcpy(&serverHost.address, bytes, 4);
    serverHost.valid = 1;
    return "127.83.3." + std::to_string(last);
  }
  void WriteFile(const std::string& bytes) {
    file_ = bytes;
    std::ofstream(kSnapshotFileName, std::ios::binary) << bytes;
  }
  // The server side of an upload up to and with the header, every header accepted.
  void ScriptUpToBody(testsupport::ScriptServer& server) {
    server.Expect(kUser).Reply("200 hello").Expect(kPassword).Reply("200 welcome");
    server.Expect(Header(file_.size())).Reply("200 send it");
  }

  testsupport::ScratchDirectory scratch_;
  std::string file_;
};

TEST_F(UploadExchangeTest, AnAcceptedUploadSendsEverythingInOrderAndGivesTheReplyToQuit) {
  WriteFile(Pattern(2049));
  testsupport::ScriptServer server(UseAddress(1));
  ASSERT_TRUE(server.Listening());
  ScriptUpToBody(server);
  server.Expect(file_).Reply("250 stored").Expect(kQuit).Reply("221 bye");
  int before = OpenDescriptors();
  server.Start();

  const char* result = UploadExchange();
  EXPECT_EQ(server.Finish(), kUser + kPassword + Header(2049) + file_ + kQuit);
  EXPECT_STREQ(result, "221 bye");
  EXPECT_EQ(result, ServerReply);
  // One send per line and per chunk of 1024 bytes; the header in one piece.
  EXPECT_EQ(testsupport::socketFaults.sentSizes, (std::vector<int>{6, 7, 10, 1024, 1024, 1, 5}));
  EXPECT_TRUE(headless::Boxes().empty());
  EXPECT_TRUE(testsupport::SocketLibraryReleased());
  EXPECT_EQ(OpenDescriptors(), before);
  // The snapshot stays on disk.
  EXPECT_TRUE(std::filesystem::exists(kSnapshotFileName));
}

TEST_F(UploadExchangeTest, EmptyAndWholeChunkFiles) {
  std::string address = UseAddress(2);
  for (size_t size : {size_t{0}, size_t{2048}}) {
    SCOPED_TRACE(size);
    WriteFile(Pattern(size));
    testsupport::ScriptServer server(address);
    ASSERT_TRUE(server.Listening());
    ScriptUpToBody(server);
    server.Expect(file_).Reply("250 stored").Expect(kQuit).Reply("221 bye");
    server.Start();
    testsupport::InstallSocketFaults();
    EXPECT_STREQ(UploadExchange(), "221 bye");
    EXPECT_EQ(server.Finish(), kUser + kPassword + Header(size) + file_ + kQuit);
    std::vector<int> sizes = {6, 7, static_cast<int>(Header(size).size())};
    if (size == 2048) sizes.insert(sizes.end(), {1024, 1024});
    sizes.push_back(5);
    EXPECT_EQ(testsupport::socketFaults.sentSizes, sizes);
  }
}

TEST_F(UploadExchangeTest, ARefusedHeaderGoesOutAgainAtMostSixTimesInAll) {
  std::string address = UseAddress(3);
  for (int refusals : {0, 2, 5, 6}) {
    SCOPED_TRACE(refusals);
    testsupport::ScriptServer server(address);
    ASSERT_TRUE(server.Listening());
    server.Expect(kUser).Reply("200 hello").Expect(kPassword).Reply("200 welcome");
    int headers = std::min(refusals + 1, 6);
    for (int i = 0; i < headers; ++i)
      server.Expect(Header(5)).Reply(i < refusals ? "300 not ready" : "200 go");
    server.Expect(file_).Reply("250 stored").Expect(kQuit).Reply("221 bye");
    server.Start();
    EXPECT_STREQ(UploadExchange(), "221 bye");
    std::string expected = kUser + kPassword;
    for (int i = 0; i < headers; ++i) expected += Header(5);
    EXPECT_EQ(server.Finish(), expected + file_ + kQuit);
  }
}

// One row of the upload's failure table that a server can provoke.
struct ServerRow {
  const char* name;
  std::function<void(testsupport::ScriptServer&)> script;
  const char* result;
  std::string transcript;
};

const std::string kBody = Pattern(5);
void Greet(testsupport::ScriptServer& s) {
  s.Expect(kUser).Reply("200 hello").Expect(kPassword).Reply("200 welcome");
}
void UpToBody(testsupport::ScriptServer& s) {
  Greet(s);
  s.Expect(Header(5)).Reply("200 go").Expect(kBody);
}

const ServerRow kServerRows[] = {
    {"ClosedAfterUserName", [](auto& s) { s.Expect(kUser).Close(); }, "300 ", kUser},
    {"UserNameRefused", [](auto& s) { s.Expect(kUser).Reply("300 who?"); }, "300 ", kUser},
    {"ClosedAfterPassword", [](auto& s) { s.Expect(kUser).Reply("1").Expect(kPassword).Close(); },
     "300 ", kUser + kPassword},
    {"PasswordRefused",
     [](auto& s) { s.Expect(kUser).Reply("20").Expect(kPassword).Reply("300 no"); }, "300 ",
     kUser + kPassword},
    {"ClosedAfterHeader", [](auto& s) { Greet(s), s.Expect(Header(5)).Close(); },
     "300 Computer is not receiving data.", kUser + kPassword + Header(5)},
    {"ClosedAfterResentHeader",
     [](auto& s) { Greet(s), s.Expect(Header(5)).Reply("300 busy").Expect(Header(5)).Close(); },
     "300 ", kUser + kPassword + Header(5) + Header(5)},
    {"ClosedAfterBody", [](auto& s) { UpToBody(s), s.Close(); }, "300 ",
     kUser + kPassword + Header(5) + kBody},
    {"BodyRefused", [](auto& s) { UpToBody(s), s.Reply("300 bad picture"); }, "300 ",
     kUser + kPassword + Header(5) + kBody},
    {"ClosedAfterQuit", [](auto& s) { UpToBody(s), s.Reply("250 ok").Expect(kQuit).Reset(); },
     "300 Server down", kUser + kPassword + Header(5) + kBody + kQuit},
    {"QuitRefused", [](auto& s) { UpToBody(s), s.Reply("250 ok").Expect(kQuit).Reply("300 x"); },
     "300 ", kUser + kPassword + Header(5) + kBody + kQuit},
    // A short reply after a longer one is read without any rest of the longer one.
    {"ShortReplyToQuit",
     [](auto& s) { UpToBody(s), s.Reply("250 stored 5 bytes").Expect(kQuit).Reply("2"); }, "2",
     kUser + kPassword + Header(5) + kBody + kQuit},
};

class UploadServerRowTest : public UploadExchangeTest,
                            public ::testing::WithParamInterface<size_t> {};

TEST_P(UploadServerRowTest, GivesTheRowsTextAndSendsNothingMore) {
  const ServerRow& row = kServerRows[GetParam()];
  testsupport::ScriptServer server(UseAddress(10 + static_cast<int>(GetParam())));
  ASSERT_TRUE(server.Listening());
  row.script(server);
  int before = OpenDescriptors();
  server.Start();
  std::string result = UploadExchange();
  EXPECT_EQ(server.Finish(), row.transcript);
  EXPECT_EQ(result, row.result);
  EXPECT_TRUE(headless::Boxes().empty());
  EXPECT_TRUE(testsupport::SocketLibraryReleased());
  EXPECT_EQ(OpenDescriptors(), before);
}

INSTANTIATE_TEST_SUITE_P(Rows, UploadServerRowTest,
                         ::testing::Range(size_t{0}, std::size(kServerRows)), [](const auto& info) {
                           return std::string(kServerRows[info.param].name);
                         });

TEST_F(UploadExchangeTest, FailedSendsGiveTheirRowsTexts) {
  std::string address = UseAddress(4);
  struct Case {
    bool headerRefusedOnce;
    int failingSend;
    const char* result;
  };
  const Case cases[] = {
      {false, 1, "300 Server down."},
      {false, 2, "300 Server down."},
      {false, 3, "300 Server not ready to receive data."},
      {true, 4, "300 "},  // the re-sent header
      {false, 4, "300 Unable to send data"},
      {false, 5, "300 Server cannot close connection"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    testsupport::ScriptServer server(address);
    ASSERT_TRUE(server.Listening());
    Greet(server);
    if (c.headerRefusedOnce) server.Expect(Header(5)).Reply("300 wait");
    server.Expect(Header(5)).Reply("200 go").Expect(kBody).Reply("250 ok");
    server.Expect(kQuit).Reply("221 bye");
    int before = OpenDescriptors();
    server.Start();
    testsupport::InstallSocketFaults();
    testsupport::socketFaults.failSend = c.failingSend;
    testsupport::socketFaults.sendError = WSAECONNRESET;
    EXPECT_STREQ(UploadExchange(), c.result);
    server.Finish();
    EXPECT_EQ(testsupport::socketFaults.sends, c.failingSend);
    EXPECT_TRUE(testsupport::SocketLibraryReleased());
    EXPECT_EQ(OpenDescriptors(), before);
  }
}

TEST_F(UploadExchangeTest, ASilentServerRunsOutOfTheTimeOut) {
  serverTimeoutMilliseconds = 100;
  testsupport::ScriptServer server(UseAddress(5));
  ASSERT_TRUE(server.Listening());
  Greet(server);
  server.Expect(Header(5));  // and then nothing
  server.Start();
  EXPECT_STREQ(UploadExchange(), "300 Computer is not receiving data.");
  server.Finish();
  EXPECT_TRUE(server.ClientClosed());
}

TEST_F(UploadExchangeTest, FailuresBeforeTheConversation) {
  UseAddress(6);  // nobody listens there
  EXPECT_STREQ(UploadExchange(), "300 Cannot connect socket.");
  EXPECT_EQ(testsupport::socketFaults.sockets, 1);

  socketCalls.socket = [](int, int, int) {
    WSASetLastError(WSAENOBUFS);
    return INVALID_SOCKET;
  };
  EXPECT_STREQ(UploadExchange(), "300 Cannot create socket.");
  socketCalls.socket = kDefaultSocketCalls.socket;

  socketCalls.WSAStartup = [](WORD, WSADATA*) { return WSASYSNOTREADY; };
  int before = OpenDescriptors();
  EXPECT_STREQ(UploadExchange(), "300 Unable to initialize WinSock library");
  EXPECT_EQ(OpenDescriptors(), before);
  socketCalls.WSAStartup = kDefaultSocketCalls.WSAStartup;

  // No address from a login: nothing is connected.
  testsupport::InstallSocketFaults();
  serverHost.valid = 0;
  EXPECT_STREQ(UploadExchange(), "300 Cannot resolve hostname.");
  EXPECT_EQ(testsupport::socketFaults.sockets, 0);
  EXPECT_TRUE(testsupport::SocketLibraryReleased());
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(UploadExchangeTest, AnUploadHoldsTheServerLinkForItsWholeRun) {
  testsupport::ScriptServer server(UseAddress(8));
  ASSERT_TRUE(server.Listening());
  server.Expect(kUser).Hold().Reply("200 hello").Expect(kPassword).Reply("200 welcome");
  server.Expect(Header(5)).Reply("200 go").Expect(kBody).Reply("250 ok");
  server.Expect(kQuit).Reply("221 bye");
  server.Start();
  std::string result;
  std::thread upload([&result] { result = UploadExchange(); });
  ASSERT_TRUE(server.WaitUntilHeld());
  // Mid-upload the link is taken: a login would wait for the upload to end.
  EXPECT_FALSE(serverLinkMutex.try_lock());
  server.Release();
  upload.join();
  EXPECT_EQ(result, "221 bye");
  ASSERT_TRUE(serverLinkMutex.try_lock());
  serverLinkMutex.unlock();
  server.Finish();
}

TEST_F(UploadExchangeTest, AMissingSnapshotEndsTheUploadBeforeItConnects) {
  UseAddress(7);
  std::filesystem::remove(kSnapshotFileName);
  EXPECT_STREQ(UploadExchange(), "300 ");
  EXPECT_EQ(testsupport::socketFaults.sockets, 0);
  EXPECT_TRUE(testsupport::SocketLibraryReleased());
  EXPECT_TRUE(headless::Boxes().empty());
}

}  // namespace
