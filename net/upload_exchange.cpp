// The upload exchange: the stored credentials, the "DATA" header with the snapshot's size,
// the snapshot in 1024-byte chunks and "QUIT\n", on one connection to the address the last
// login looked up.
#include "net/upload_exchange.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "net/server_connection.h"
#include "net/server_link.h"
#include "snapshot/snapshot_writer.h"

namespace {

constexpr char kQuit[] = "QUIT\n";
// How often the header is sent again after a refusal before the body goes regardless.
constexpr int kHeaderResends = 5;
// Bytes read from the snapshot file and sent per send.
constexpr size_t kChunkBytes = 1024;

// Closes what is open (the file, the connection), releases the socket library and gives
// `text`.
const char* EndUpload(FILE* file, SOCKET s, const char* text) {
  if (file) std::fclose(file);
  if (s != INVALID_SOCKET) closesocket(s);
  WSACleanup();
  return text;
}

}  // namespace

const char* UploadExchange() {
  std::lock_guard lock(serverLinkMutex);
  int userLength = static_cast<int>(std::strlen(storedUserName));
  int passwordLength = static_cast<int>(std::strlen(storedPassword));
  int quitLength = static_cast<int>(std::strlen(kQuit));

  // The snapshot that the frame handler has just written. When it cannot be measured or
  // opened (its writing failed) there is nothing to announce: the upload ends before it
  // connects.
  std::error_code error;
  uintmax_t size = std::filesystem::file_size(kSnapshotFileName, error);
  if (error || size > static_cast<uintmax_t>(INT_MAX)) return "300 ";
  FILE* file = std::fopen(kSnapshotFileName, "rb");
  if (!file) return "300 ";
  char header[32];
  int headerLength = std::snprintf(header, sizeof header, "DATA\n%d\n", static_cast<int>(size));

  WSADATA data;
  if (WSAStartup(kSocketVersion, &data) != 0) {
    std::fclose(file);
    return "300 Unable to initialize WinSock library";
  }
  if (!serverHost.valid) return EndUpload(file, INVALID_SOCKET, "300 Cannot resolve hostname.");
  SOCKET s = OpenServerSocket();
  if (s == INVALID_SOCKET) return EndUpload(file, s, "300 Cannot create socket.");
  if (!ConnectToServer(s)) return EndUpload(file, s, "300 Cannot connect socket.");

  if (!SendWhole(s, storedUserName, userLength)) return EndUpload(file, s, "300 Server down.");
  int length = ReceiveReply(s);
  if (length <= 0 || IsRefusal(length)) return EndUpload(file, s, "300 ");
  if (!SendWhole(s, storedPassword, passwordLength)) return EndUpload(file, s, "300 Server down.");
  length = ReceiveReply(s);
  if (length <= 0 || IsRefusal(length)) return EndUpload(file, s, "300 ");

  if (!SendWhole(s, header, headerLength))
    return EndUpload(file, s, "300 Server not ready to receive data.");
  length = ReceiveReply(s);
  if (length <= 0) return EndUpload(file, s, "300 Computer is not receiving data.");
  // A refused header goes out again, at most five more times; then the body follows
  // whatever the last reply said.
  for (int resend = 0; resend < kHeaderResends && IsRefusal(length); ++resend) {
    if (!SendWhole(s, header, headerLength)) return EndUpload(file, s, "300 ");
    length = ReceiveReply(s);
    if (length <= 0) return EndUpload(file, s, "300 ");
  }

  // A read that fails ends the body like the end of the file.
  char chunk[kChunkBytes];
  for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
    if (!SendWhole(s, chunk, static_cast<int>(got)))
      return EndUpload(file, s, "300 Unable to send data");
  }
  std::fclose(file);
  file = nullptr;

  length = ReceiveReply(s);
  if (length <= 0 || IsRefusal(length)) return EndUpload(file, s, "300 ");
  if (!SendWhole(s, kQuit, quitLength))
    return EndUpload(file, s, "300 Server cannot close connection");
  length = ReceiveReply(s);
  if (length <= 0) return EndUpload(file, s, "300 Server down");
  if (IsRefusal(length)) return EndUpload(file, s, "300 ");
  return EndUpload(file, s, ServerReply);
}
