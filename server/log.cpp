#include "server/log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>

namespace corvantis::server {

std::string UtcTimestamp() {
  const auto now = std::chrono::system_clock::now();
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<int>(micros % 1000000));
  return text;
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
