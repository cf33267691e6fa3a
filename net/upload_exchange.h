// The upload exchange: sends the snapshot file to the alarm server.
#pragma once

// Sends the stored credentials, the "DATA" header, the file in 1024-byte chunks and
// "QUIT\n". Gives the server's reply to "QUIT\n", or a fixed text beginning with "300 ".
const char* UploadExchange();
