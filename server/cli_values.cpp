#include "server/cli_values.h"

#include <cmath>

namespace corvantis::server {

std::optional<double> ParseSeconds(const std::string& text) {
  double seconds = -1;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (!(seconds >= 0 && seconds < 1e7)) return std::nullopt;
  return seconds;
}

std::optional<uint64_t> ParseSize(const std::string& text) {
  if (text.empty()) return std::nullopt;
  int shift = 0;
  std::string digits = text;
  switch (text.back()) {
    case 'K':
      shift = 10;
      break;
    case 'M':
      shift = 20;
      break;
    case 'G':
      shift = 30;
      break;
    case 'T':
      shift = 40;
      break;
    default:
      break;
  }
  if (shift) digits.pop_back();
  const auto number = ParseNumber<uint64_t>(digits);
  if (!number || *number > (UINT64_MAX >> shift)) return std::nullopt;
  return *number << shift;
}

}  // namespace corvantis::server
