// Password hashes: the cost a hash made like another one takes.
#include "server/credentials.h"

#include <gtest/gtest.h>

#include <string>

namespace corvantis::server {
namespace {

// The "m=...,t=...,p=..." part of an argon2id hash string.
std::string Cost(const std::string& hash) {
  const std::size_t start = hash.find("$m=");
  return start == std::string::npos ? "" : hash.substr(start, hash.find('$', start + 1) - start);
}

TEST(Credentials, AHashMadeLikeAnotherTakesItsCost) {
  const std::string cheap = HashPassword("secret1", HashCost::kMinimal);
  const std::string like = HashPasswordLike("decoy password", cheap);
  EXPECT_EQ(Cost(like), Cost(cheap));
  EXPECT_NE(Cost(like), Cost(HashPassword("x", HashCost::kInteractive)));
  EXPECT_TRUE(VerifyPassword(like, "decoy password"));
  EXPECT_FALSE(VerifyPassword(like, "secret1"));

  // Without a readable model the cost is the default one.
  const std::string interactive = Cost(HashPassword("x", HashCost::kInteractive));
  EXPECT_EQ(Cost(HashPasswordLike("decoy password", "")), interactive);
  EXPECT_EQ(Cost(HashPasswordLike("decoy password", "$argon2i$v=19$m=8,t=1,p=1$x$y")), interactive);
  EXPECT_EQ(Cost(HashPasswordLike("decoy password", "$argon2id$v=19$m=8589934592,t=1,p=1$x$y")),
            interactive);
}

}  // namespace
}  // namespace corvantis::server
