#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/sockets.h"
#include "platform/sockets_testing.h"
#include "tests/support/script_server.h"

namespace {

// Whether the 4 bytes at `bytes` are the address a.b.c.d.
bool IsAddress(const char* bytes, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t expected[4] = {a, b, c, d};
  return std::memcmp(bytes, expected, 4) == 0;
}

// The IPv4 address a.b.c.d.
in_addr Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  in_addr address;
  uint8_t bytes[4] = {a, b, c, d};
  std::memcpy(&address.s_addr, bytes, 4);
  return address;
}

sockaddr_in Peer(in_addr address) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(1100);
  peer.sin_addr = address;
  return peer;
}

int Connect(SOCKET s, in_addr address) {
  sockaddr_in peer = Peer(address);
  return connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
}

// Sets a DWORD option (or BOOL) from `value`, of which the call is given `length` bytes.
int SetOption(SOCKET s, int level, int option, DWORD value, int length = sizeof(DWORD)) {
  return setsockopt(s, level, option, reinterpret_cast<const char*>(&value), length);
}

// The socket error that a failed call left (a call that gave SOCKET_ERROR, or a socket call
// that gave INVALID_SOCKET), or 0 when the call did not fail.
int FailureOf(int result) {
  return result == SOCKET_ERROR ? WSAGetLastError() : 0;
}
int FailureOf(SOCKET result) {
  return result == INVALID_SOCKET ? WSAGetLastError() : 0;
}

class SocketsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
  }
  void TearDown() override {
    socketCalls = kDefaultSocketCalls;
    ClearTestHostAddresses();
    while (WSACleanup() == 0) {
    }
  }
};

TEST(SocketLibrary, StartsForVersionOneOneAndAboveAndCountsItsStarts) {
  WSADATA data;
  EXPECT_EQ(WSAStartup(0x0001, &data), WSAVERNOTSUPPORTED);  // 1.0
  EXPECT_EQ(WSAStartup(0x0100, &data), WSAVERNOTSUPPORTED);  // 0.1
  EXPECT_EQ(FailureOf(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)), WSANOTINITIALISED);
  EXPECT_EQ(FailureOf(WSACleanup()), WSANOTINITIALISED);

  ASSERT_EQ(WSAStartup(0x0101, &data), 0);
  EXPECT_EQ(data.wVersion, 0x0101);
  EXPECT_EQ(data.wHighVersion, 0x0202);
  ASSERT_EQ(WSAStartup(0x0303, &data), 0);
  EXPECT_EQ(data.wVersion, 0x0202);

  // Two starts: the first cleanup leaves the library running.
  EXPECT_EQ(WSACleanup(), 0);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  EXPECT_NE(s, INVALID_SOCKET);
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_EQ(FailureOf(closesocket(s)), WSANOTINITIALISED);
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
}

TEST(SocketLibrary, ByteOrderIsBigEndian) {
  uint16_t port = htons(1100);
  uint32_t value = htonl(0x7f000001);
  unsigned char portBytes[2];
  unsigned char valueBytes[4];
  std::memcpy(portBytes, &port, 2);
  std::memcpy(valueBytes, &value, 4);
  EXPECT_EQ(portBytes[0], 0x04);
  EXPECT_EQ(portBytes[1], 0x4c);
  EXPECT_EQ(valueBytes[0], 0x7f);
  EXPECT_EQ(valueBytes[3], 0x01);
  EXPECT_EQ(ntohs(port), 1100);
}

TEST_F(SocketsTest, LooksUpTestNamesAndDottedAddressesPerThread) {
  ASSERT_TRUE(SetTestHostAddress("Alarm.Example", "127.83.1.1"));
  EXPECT_FALSE(SetTestHostAddress("other", "not an address"));
  hostent* host = gethostbyname("alarm.example");
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(host->h_addrtype, AF_INET);
  EXPECT_EQ(host->h_length, 4);
  ASSERT_NE(host->h_addr_list[0], nullptr);
  EXPECT_TRUE(IsAddress(host->h_addr_list[0], 127, 83, 1, 1));
  EXPECT_EQ(host->h_addr_list[1], nullptr);

  // Another thread's lookup has a record of its own.
  std::thread other([] {
    hostent* dotted = gethostbyname("127.83.1.9");
    ASSERT_NE(dotted, nullptr);
    EXPECT_TRUE(IsAddress(dotted->h_addr_list[0], 127, 83, 1, 9));
  });
  other.join();
  EXPECT_TRUE(IsAddress(host->h_addr_list[0], 127, 83, 1, 1));

  EXPECT_EQ(gethostbyname(""), nullptr);
  EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
}

TEST_F(SocketsTest, ExchangesBytesAndSeesTheOrderlyClose) {
  testsupport::ScriptServer server("127.83.1.2");
  ASSERT_TRUE(server.Listening());
  server.Expect("hello\n").Reply("200 welcome").Close();
  server.Start();

  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(s, INVALID_SOCKET);
  EXPECT_EQ(SetOption(s, SOL_SOCKET, SO_RCVTIMEO, 10000), 0);
  EXPECT_EQ(SetOption(s, IPPROTO_TCP, TCP_NODELAY, TRUE), 0);
  ASSERT_EQ(Connect(s, Address(127, 83, 1, 2)), 0);
  EXPECT_EQ(send(s, "hello\n", 6, 0), 6);
  char reply[64];
  int n = recv(s, reply, sizeof reply, 0);
  ASSERT_EQ(n, 11);
  EXPECT_EQ(std::string(reply, 11), "200 welcome");
  EXPECT_EQ(recv(s, reply, sizeof reply, 0), 0);
  EXPECT_EQ(closesocket(s), 0);
  EXPECT_EQ(server.Finish(), "hello\n");
}

TEST_F(SocketsTest, ReportsRefusalTimeOutAndResetWithThePlatformsCodes) {
  // Nobody listens on this address.
  SOCKET refused = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  EXPECT_EQ(FailureOf(Connect(refused, Address(127, 83, 1, 3))), WSAECONNREFUSED);
  closesocket(refused);

  // A server that stays silent: the receive runs out of its time-out.
  {
    testsupport::ScriptServer silent("127.83.1.4");
    ASSERT_TRUE(silent.Listening());
    silent.Start();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(SetOption(s, SOL_SOCKET, SO_RCVTIMEO, 50), 0);
    ASSERT_EQ(Connect(s, Address(127, 83, 1, 4)), 0);
    char reply[8];
    EXPECT_EQ(FailureOf(recv(s, reply, sizeof reply, 0)), WSAETIMEDOUT);
    closesocket(s);
    silent.Finish();
  }

  // A server that resets: the receive and a later send fail (and the send raises no
  // SIGPIPE, which would end this process).
  testsupport::ScriptServer resetting("127.83.1.5");
  ASSERT_TRUE(resetting.Listening());
  resetting.Expect("x").Reset();
  resetting.Start();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_EQ(Connect(s, Address(127, 83, 1, 5)), 0);
  ASSERT_EQ(send(s, "x", 1, 0), 1);
  char reply[8];
  EXPECT_EQ(FailureOf(recv(s, reply, sizeof reply, 0)), WSAECONNRESET);
  EXPECT_EQ(FailureOf(send(s, "more", 4, 0)), WSAECONNRESET);
  closesocket(s);
  resetting.Finish();
}

TEST_F(SocketsTest, RefusesStaleSocketsAndUnsupportedRequests) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(s, INVALID_SOCKET);
  EXPECT_EQ(FailureOf(SetOption(s, SOL_SOCKET, 0x0080, 1)), WSAENOPROTOOPT);
  EXPECT_EQ(FailureOf(SetOption(s, SOL_SOCKET, SO_SNDTIMEO, 1, 2)), WSAEFAULT);
  sockaddr_in any = Peer(Address(0, 0, 0, 0));
  EXPECT_EQ(FailureOf(connect(s, reinterpret_cast<const sockaddr*>(&any), sizeof any)),
            WSAEADDRNOTAVAIL);
  EXPECT_EQ(FailureOf(connect(s, reinterpret_cast<const sockaddr*>(&any), 8)), WSAEFAULT);

  EXPECT_EQ(closesocket(s), 0);
  EXPECT_EQ(FailureOf(closesocket(s)), WSAENOTSOCK);
  EXPECT_EQ(FailureOf(send(s, "x", 1, 0)), WSAENOTSOCK);
  EXPECT_EQ(FailureOf(recv(static_cast<SOCKET>(3), nullptr, 0, 0)), WSAENOTSOCK);

  EXPECT_EQ(FailureOf(socket(AF_INET, 2 /* datagram */, 0)), WSAESOCKTNOSUPPORT);
  EXPECT_EQ(FailureOf(socket(23 /* IPv6 */, SOCK_STREAM, 0)), WSAEAFNOSUPPORT);
}

TEST_F(SocketsTest, TheLastCleanupClosesOpenSockets) {
  testsupport::ScriptServer server("127.83.1.6");
  ASSERT_TRUE(server.Listening());
  server.Start();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_EQ(Connect(s, Address(127, 83, 1, 6)), 0);
  ASSERT_EQ(send(s, "bye", 3, 0), 3);
  ASSERT_EQ(WSACleanup(), 0);
  // The server reads to the end of the connection, which comes only when it is closed.
  EXPECT_EQ(server.Finish(), "bye");
  EXPECT_TRUE(server.ClientClosed());
  WSADATA data;
  ASSERT_EQ(WSAStartup(0x0101, &data), 0);
  EXPECT_EQ(FailureOf(closesocket(s)), WSAENOTSOCK);
}

TEST_F(SocketsTest, ATestCanMakeAnyCallFailThroughTheTable) {
  socketCalls.connect = [](SOCKET, const sockaddr*, int) {
    WSASetLastError(WSAENETUNREACH);
    return SOCKET_ERROR;
  };
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(s, INVALID_SOCKET);
  EXPECT_EQ(FailureOf(Connect(s, Address(127, 83, 1, 7))), WSAENETUNREACH);
  socketCalls = kDefaultSocketCalls;
  EXPECT_EQ(closesocket(s), 0);
}

}  // namespace
