// The login exchange: the user name, the password and "QUIT\n" on one connection, one reply
// after each; it keeps the credentials and the server's address for the uploads.
#include "net/login_exchange.h"

#include <cstring>

#include "app/app_windows.h"
#include "app/error_report.h"
#include "net/server_connection.h"
#include "net/server_link.h"

namespace {

// The server reply that the login gives back, valid until the next login.
char loginResult[1025];

constexpr char kQuit[] = "QUIT\n";

// Copies a credential into its 1024-byte store, cut to 1023 bytes when longer.
void StoreCredential(char* store, const char* text) {
  size_t length = std::strlen(text);
  if (length > 1023) length = 1023;
  std::memcpy(store, text, length);
  store[length] = '\0';
}

// Shows the error report of a failed socket call, numbered with its error code.
void ReportFailure(int code, const char* message) {
  char number[11];
  FormatErrorCode(static_cast<uint32_t>(code), number);
  ErrorReport(number, message, MainWindow);
}

// Closes the connection, releases the socket library and gives `text`.
const char* EndLogin(SOCKET s, const char* text) {
  closesocket(s);
  WSACleanup();
  return text;
}

// Ends the login after a failed call on the connection: reads the call's error code, closes,
// shows the report and gives `text`.
const char* FailLogin(SOCKET s, const char* message, const char* text) {
  int code = WSAGetLastError();
  EndLogin(s, text);
  ReportFailure(code, message);
  return text;
}

// Keeps the reply in ServerReply (`length` bytes and its terminator) as the login's result.
void KeepReply(int length) {
  std::memcpy(loginResult, ServerReply, static_cast<size_t>(length) + 1);
}

}  // namespace

const char* LoginExchange(const char* userName, const char* password) {
  // Waits for an upload that is still finishing: both use the shared buffers.
  std::lock_guard lock(serverLinkMutex);
  int userLength = static_cast<int>(std::strlen(userName));
  int passwordLength = static_cast<int>(std::strlen(password));
  int quitLength = static_cast<int>(std::strlen(kQuit));
  StoreCredential(storedUserName, userName);
  StoreCredential(storedPassword, password);

  WSADATA data;
  if (int code = WSAStartup(kSocketVersion, &data); code != 0) {
    ReportFailure(code, "Sorry! Unable to initialize window socket");
    return "300 Unable to initialize WinSock library";
  }
  hostent* host = gethostbyname(serverHostName);
  if (!host || !host->h_addr_list || !host->h_addr_list[0]) {
    serverHost.valid = 0;
    int code = WSAGetLastError();
    WSACleanup();
    ReportFailure(code, "Sorry! Unable get server's name");
    return "300 Cannot resolve hostname";
  }
  std::memcpy(&serverHost.address, host->h_addr_list[0], sizeof serverHost.address);
  serverHost.valid = 1;

  SOCKET s = OpenServerSocket();
  if (s == INVALID_SOCKET) {
    WSACleanup();
    return "300 Cannot create socket";
  }
  if (!ConnectToServer(s)) return EndLogin(s, "300 Cannot connect socket");

  if (!SendWhole(s, userName, userLength))
    return FailLogin(s, "Sorry! Unable to send user's name", "300 ");
  int length = ReceiveReply(s);
  if (length <= 0) return FailLogin(s, "Sorry! Unable receive confirmation", "300 .");
  KeepReply(length);
  if (IsRefusal(length)) return EndLogin(s, loginResult);

  if (!SendWhole(s, password, passwordLength))
    return FailLogin(s, "Sorry! Unable to send user password", "300 ");
  length = ReceiveReply(s);
  if (length <= 0) return FailLogin(s, "Sorry! Unable receive confirmation", "300 ");
  KeepReply(length);
  if (IsRefusal(length)) return EndLogin(s, loginResult);

  if (!SendWhole(s, kQuit, quitLength))
    return FailLogin(s, "Sorry! Unable send close command", "300 Cannot close connection");
  length = ReceiveReply(s);
  if (length <= 0)
    return FailLogin(s, "Sorry! Unable receive closed connection confirmation", "300 ");
  // An accepted login answers with the reply to the password; a refused "QUIT\n" replaces it.
  if (IsRefusal(length)) KeepReply(length);
  return EndLogin(s, loginResult);
}
