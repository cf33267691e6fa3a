#include "server/log.h"

#include "server/clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>

namespace corvantis::server {

std::string UtcTimestamp() {
  return FormatTime(SystemClock().Now());
}

std::string EscapeForLog(std::string_view text, std::size_t maxBytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  const std::string_view shown = text.substr(0, maxBytes);
  out.reserve(shown.size());
  for (unsigned char c : shown) {
    if (c > ' ' && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  if (shown.size() < text.size()) {
    out += "...(+" + std::to_string(text.size() - shown.size()) + " bytes)";
  }
  return out;
}

void WriteLog(const LogSink& sink, std::string_view line) {
  if (!sink) return;
  std::string text = UtcTimestamp();
  text += ' ';
  text += line;
  sink(text);
}

LogSink StderrLogSink() {
  auto mutex = std::make_shared<std::mutex>();
  return [mutex](std::string_view line) {
    std::string text(line);
    text += '\n';
    std::lock_guard lock(*mutex);
    std::fwrite(text.data(), 1, text.size(), stderr);
  };
}

}  // namespace corvantis::server
