// Log lines: one line per connection outcome and per server event, plain text.
#pragma once

#include <string>
#include <string_view>

#include "server/options.h"

namespace corvantis::server {

// The current UTC time as "2024-05-01T12:03:04.123456Z".
std::string UtcTimestamp();

// `text` with bytes outside printable ASCII, backslashes and blanks written as \xNN, so a
// client's user name can never split or forge a log line. Beyond `maxBytes`, the rest is
// left out and its size told: "aaaa...(+994 bytes)".
std::string EscapeForLog(std::string_view text, std::size_t maxBytes = std::string_view::npos);

// Sends "<UTC time> <line>" to the sink, if there is one.
void WriteLog(const LogSink& sink, std::string_view line);

// A sink writing whole lines to standard error, serialised by a mutex.
LogSink StderrLogSink();

}  // namespace corvantis::server
