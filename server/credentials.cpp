#include "server/credentials.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace corvantis::server {

std::optional<std::string> UserNameProblem(std::string_view name) {
  if (name.size() < kMinUserName || name.size() > kMaxUserName) {
    return "a user name has 4 to 30 characters";
  }
  if (name.find('\n') != std::string_view::npos || name.find('\0') != std::string_view::npos) {
    return "a user name cannot hold a line feed or a zero byte";
  }
  if (name == "DATA" || name == "QUIT") return "DATA and QUIT are protocol words, not names";
  return std::nullopt;
}

std::optional<std::string> PasswordProblem(std::string_view password) {
  if (password.size() < kMinPassword || password.size() > kMaxPassword) {
    return "a password has 4 to 13 characters";
  }
  if (password.find('\n') != std::string_view::npos ||
      password.find('\0') != std::string_view::npos) {
    return "a password cannot hold a line feed or a zero byte";
  }
  return std::nullopt;
}

std::optional<HashCost> ParseHashCost(std::string_view text) {
  if (text == "min") return HashCost::kMinimal;
  if (text == "interactive") return HashCost::kInteractive;
  if (text == "moderate") return HashCost::kModerate;
  return std::nullopt;
}

void InitSodium() {
  if (sodium_init() < 0) throw std::runtime_error("libsodium cannot be initialised");
}

namespace {

std::string HashWithLimits(std::string_view password, unsigned long long ops, std::size_t mem) {
  InitSodium();
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(hash, password.data(), password.size(), ops, mem,
                            crypto_pwhash_ALG_ARGON2ID13) != 0) {
    throw std::runtime_error("not enough memory to hash the password");
  }
  return hash;
}

}  // namespace

std::string HashPassword(std::string_view password, HashCost cost) {
  unsigned long long ops = crypto_pwhash_OPSLIMIT_INTERACTIVE;
  std::size_t mem = crypto_pwhash_MEMLIMIT_INTERACTIVE;
  if (cost == HashCost::kMinimal) {
    ops = crypto_pwhash_OPSLIMIT_MIN;
    mem = crypto_pwhash_MEMLIMIT_MIN;
  } else if (cost == HashCost::kModerate) {
    ops = crypto_pwhash_OPSLIMIT_MODERATE;
    mem = crypto_pwhash_MEMLIMIT_MODERATE;
  }
  return HashWithLimits(password, ops, mem);
}

std::string HashPasswordLike(std::string_view password, std::string_view model) {
  // libsodium's strings read "$argon2id$v=19$m=<KiB>,t=<passes>,p=1$<salt>$<hash>".
  const std::string text(model.substr(0, crypto_pwhash_STRBYTES));
  unsigned long long kib = 0, ops = 0;
  if (std::sscanf(text.c_str(), "$argon2id$v=%*u$m=%llu,t=%llu,p=", &kib, &ops) != 2 ||
      kib > crypto_pwhash_MEMLIMIT_MAX / 1024) {
    return HashPassword(password, HashCost::kInteractive);
  }
  ops = std::clamp<unsigned long long>(ops, crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_OPSLIMIT_MAX);
  const std::size_t mem = std::clamp<std::size_t>(
      static_cast<std::size_t>(kib) * 1024, crypto_pwhash_MEMLIMIT_MIN, crypto_pwhash_MEMLIMIT_MAX);
  return HashWithLimits(password, ops, mem);
}

bool VerifyPassword(std::string_view hash, std::string_view password) {
  // crypto_pwhash_str_verify wants a terminated string of at most STRBYTES bytes.
  if (hash.size() >= crypto_pwhash_STRBYTES) return false;
  char text[crypto_pwhash_STRBYTES] = {};
  hash.copy(text, hash.size());
  return crypto_pwhash_str_verify(text, password.data(), password.size()) == 0;
}

}  // namespace corvantis::server
