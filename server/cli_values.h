// Reading the values of command-line options.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace corvantis::server {

// Bad usage of the command line: the message says what, and the usage text follows it.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A whole decimal number of type T, nothing else.
template <typename T>
std::optional<T> ParseNumber(const std::string& text) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Seconds, possibly fractional, from 0 to ten million.
std::optional<double> ParseSeconds(const std::string& text);

// Bytes: a whole number, or one followed by K, M, G or T (powers of 1024).
std::optional<uint64_t> ParseSize(const std::string& text);

}  // namespace corvantis::server
