// Rules for user names and passwords, and their argon2id hashes (libsodium).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvantis::server {

// The client lets users type names of 4 to 30 bytes and passwords of 4 to 13 bytes; any
// byte but a line feed (which ends the line) or a zero byte (which ends its strings).
constexpr std::size_t kMinUserName = 4;
constexpr std::size_t kMaxUserName = 30;
constexpr std::size_t kMinPassword = 4;
constexpr std::size_t kMaxPassword = 13;

// Why `name` cannot be an account's name, or nothing when it can. "DATA" and "QUIT" are
// protocol words and are refused as names.
std::optional<std::string> UserNameProblem(std::string_view name);

// Why `password` cannot be an account's password, or nothing when it can.
std::optional<std::string> PasswordProblem(std::string_view password);

// How much work and memory a new password hash costs. The cost is stored inside the hash,
// so verification later costs what the hash was made with. Interactive is the default;
// moderate is stronger; minimal (libsodium's lowest limits) is for tests and benchmarks only.
enum class HashCost { kMinimal, kInteractive, kModerate };

// Parses "min", "interactive" or "moderate".
std::optional<HashCost> ParseHashCost(std::string_view text);

// The argon2id hash string of `password`, with a fresh random salt. Throws
// std::runtime_error when libsodium cannot allocate its memory.
std::string HashPassword(std::string_view password, HashCost cost);

// The argon2id hash string of `password` at the cost recorded in the hash string `model`
// (interactive when `model` is no argon2id hash string), with a fresh random salt. Throws
// std::runtime_error when libsodium cannot allocate its memory.
std::string HashPasswordLike(std::string_view password, std::string_view model);

// True when `password` matches the argon2id hash string `hash`.
bool VerifyPassword(std::string_view hash, std::string_view password);

// Initialises libsodium once; throws std::runtime_error when it cannot.
void InitSodium();

}  // namespace corvantis::server
