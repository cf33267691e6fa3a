// Fuzzes the login and upload exchanges against a server that the input plays through the
// socket call table: the host lookup, the socket, its options and the connection may fail with
// any error, every send may fail or stop short, and every receive gives any bytes the input
// holds (a reply, nothing, a closed connection or an error). The input also chooses the
// credentials, the snapshot file and the order of the exchanges. Whatever the server says, the
// exchanges send only what the protocol allows in its order, give a terminated text, and
// release every start of the socket library. Works in a temporary directory.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "net/login_exchange.h"
#include "net/server_link.h"
#include "net/upload_exchange.h"
#include "platform/headless/headless.h"
#include "platform/sockets.h"
#include "platform/sockets_testing.h"
#include "tests/support/fuzz_directory.h"

namespace {

constexpr SOCKET kServerSocket = 4242;

// The input of the run in hand, and every byte the client sent in it.
FuzzedDataProvider* input = nullptr;
std::string sent;
bool socketOpen = false;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "server exchanges: %s\n", what);
  std::abort();
}

// Most calls succeed; once the input is spent every call fails, so every exchange ends.
bool Succeeds() {
  return input->remaining_bytes() > 0 && input->ConsumeIntegralInRange(0, 9) != 0;
}

int Refuse() {
  static constexpr int kErrors[] = {WSAECONNREFUSED, WSAETIMEDOUT, WSAECONNRESET,    WSAENOTSOCK,
                                    WSAEINTR,        WSAENOBUFS,   WSAHOST_NOT_FOUND};
  WSASetLastError(input->remaining_bytes() > 0 ? input->PickValueInArray(kErrors) : WSAECONNRESET);
  return SOCKET_ERROR;
}

void CheckSocket(SOCKET s) {
  if (s != kServerSocket || !socketOpen) Fail("a call on a socket that is not open");
}

hostent* LookUp(const char*) {
  static in_addr address;
  static char* addresses[2];
  static hostent entry;
  if (!Succeeds()) {
    Refuse();
    return nullptr;
  }
  address.s_addr = input->ConsumeIntegral<uint32_t>();
  addresses[0] =
      input->ConsumeIntegralInRange(0, 7) == 0 ? nullptr : reinterpret_cast<char*>(&address);
  addresses[1] = nullptr;
  entry = hostent{};
  entry.h_addrtype = AF_INET;
  entry.h_length = 4;
  entry.h_addr_list = input->ConsumeIntegralInRange(0, 15) == 0 ? nullptr : addresses;
  return &entry;
}

const SocketCallTable kServerCalls{
    [](WORD version, WSADATA* data) {
      if (!Succeeds()) return WSASYSNOTREADY;
      return kDefaultSocketCalls.WSAStartup(version, data);
    },
    LookUp,
    [](int, int, int) {
      if (socketOpen) Fail("a second socket while one is open");
      if (!Succeeds()) {
        Refuse();
        return INVALID_SOCKET;
      }
      socketOpen = true;
      return kServerSocket;
    },
    [](SOCKET s, const sockaddr*, int) {
      CheckSocket(s);
      return Succeeds() ? 0 : Refuse();
    },
    [](SOCKET s, const char* buffer, int length, int) {
      CheckSocket(s);
      if (length < 0) Fail("a send of a negative length");
      if (!Succeeds()) return Refuse();
      const int taken = input->ConsumeBool() ? length : input->ConsumeIntegralInRange(0, length);
      sent.append(buffer, static_cast<size_t>(taken));
      return taken;
    },
    [](SOCKET s, char* buffer, int length, int) {
      CheckSocket(s);
      if (!Succeeds()) return input->ConsumeBool() ? 0 : Refuse();
      const std::string reply =
          input->ConsumeBytesAsString(input->ConsumeIntegralInRange<size_t>(1, size_t(length)));
      if (reply.empty()) return 0;
      std::memcpy(buffer, reply.data(), reply.size());
      return static_cast<int>(reply.size());
    },
    [](SOCKET s, int, int, const char*, int) {
      CheckSocket(s);
      return Succeeds() ? 0 : Refuse();
    },
    [](SOCKET s) {
      CheckSocket(s);
      socketOpen = false;
      return 0;
    },
};

// A text of the input ending in a line feed, as the dialogs hand credentials over.
std::string ConsumeCredential() {
  std::string text = input->ConsumeRandomLengthString(1100);
  text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
  return text + "\n";
}

// The reply an exchange gives is a terminated text of at most 1024 bytes.
void CheckResult(const char* result) {
  if (!result || std::strlen(result) > 1024) Fail("an exchange gave no proper text");
  if (socketOpen) Fail("an exchange left its socket open");
  if (WSACleanup() != SOCKET_ERROR || WSAGetLastError() != WSANOTINITIALISED) {
    Fail("an exchange left the socket library started");
  }
}

void Login() {
  const std::string user = ConsumeCredential();
  const std::string password = ConsumeCredential();
  sent.clear();
  CheckResult(LoginExchange(user.c_str(), password.c_str()));
  // The credentials, then the closing command, each once and in this order (the stored
  // copies are cut to 1023 bytes, the sent ones are not).
  const std::string allowed = user + password + "QUIT\n";
  if (allowed.compare(0, sent.size(), sent) != 0) Fail("the login sent out of order");
}

void Upload() {
  std::string file;
  if (input->ConsumeBool()) {
    file = input->ConsumeRandomLengthString(5000);
    std::ofstream("Temp.jpeg", std::ios::binary) << file;
  } else {
    std::remove("Temp.jpeg");
  }
  sent.clear();
  CheckResult(UploadExchange());
  // The stored credentials, then one to six headers, the file's bytes and the closing command.
  const std::string credentials = std::string(storedUserName) + storedPassword;
  if (credentials.compare(0, sent.size(), sent, 0, credentials.size()) != 0) {
    Fail("the upload sent other credentials");
  }
  if (sent.size() <= credentials.size()) return;
  const std::string after = sent.substr(credentials.size());
  const std::string header = "DATA\n" + std::to_string(file.size()) + "\n";
  std::string headers;
  for (int count = 1; count <= 6; ++count) {
    headers += header;
    const std::string whole = headers + file + "QUIT\n";
    if (whole.compare(0, after.size(), after) == 0) return;
  }
  Fail("the upload sent out of order");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  socketCalls = kServerCalls;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  input = &provider;
  fuzzsupport::FuzzDirectory::Visit visit;
  // Nothing of an earlier input is kept.
  serverHost = ServerHostRecord{0, {0}};
  storedUserName[0] = storedPassword[0] = '\0';
  SetServerHostName();
  for (int step = 0; step < 3 && provider.remaining_bytes() > 0; ++step) {
    if (provider.ConsumeBool()) {
      Login();
    } else {
      Upload();
    }
  }
  headless::ClearLogs();
  input = nullptr;
  return 0;
}
