#include "net/server_link.h"

#ifndef CORVANTIS_SERVER_HOST
#define CORVANTIS_SERVER_HOST "localhost"
#endif

namespace {

// The configured host name, terminated.
constexpr char kConfiguredHostName[] = CORVANTIS_SERVER_HOST;
static_assert(sizeof kConfiguredHostName <= 27, "the server's host name has at most 26 characters");

}  // namespace

char serverHostName[27];
ServerHostRecord serverHost{};  // no address yet
char storedUserName[1024];
char storedPassword[1024];
char ServerReply[1025];
std::atomic<uint32_t> serverTimeoutMilliseconds{30000};
std::atomic<int32_t> serverNoDelay{1};
std::mutex serverLinkMutex;

void SetServerHostName() {
  for (size_t i = 0; i < sizeof kConfiguredHostName; ++i)
    serverHostName[i] = kConfiguredHostName[i];
}
