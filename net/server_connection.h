// The steps both exchanges take on their connection to the alarm server: opening the socket,
// connecting, sending a piece whole, and receiving a reply by the reply convention.
#pragma once

#include "platform/sockets.h"

// The socket library version both exchanges ask for: 1.1.
inline constexpr WORD kSocketVersion = 0x0101;

// A TCP socket with the exchanges' time-outs and TCP_NODELAY set; INVALID_SOCKET when it
// cannot be created. An option that cannot be set is left as the platform has it: the
// exchange works without it.
SOCKET OpenServerSocket();
// Connects to port 1100 of the address in serverHost; gives 1, or 0 on failure.
int ConnectToServer(SOCKET s);
// Sends `length` bytes by one send; gives 1 when the send reports them all sent, else 0.
int SendWhole(SOCKET s, const char* bytes, int length);
// One receive of at most 1024 bytes into ServerReply, terminated right after the bytes
// received so nothing of an earlier, longer reply remains. Gives the byte count; 0 or less
// when the server closed the connection or the call failed.
int ReceiveReply(SOCKET s);
// Whether a reply of `length` bytes in ServerReply is a refusal: its first three bytes are
// exactly "300". A reply of one or two bytes is none.
int IsRefusal(int length);
