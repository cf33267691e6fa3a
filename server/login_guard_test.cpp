// Names, passwords, hashes, folder names and the verified-password cache.
#include "server/login_guard.h"

#include <gtest/gtest.h>

#include "server/credentials.h"
#include "server/data_dir.h"

namespace corvantis::server {
namespace {

using namespace std::chrono_literals;

TEST(Credentials, NamesAndPasswordsKeepTheClientsLimits) {
  EXPECT_TRUE(UserNameProblem("abc"));
  EXPECT_FALSE(UserNameProblem("abcd"));
  EXPECT_FALSE(UserNameProblem(std::string(30, 'n')));
  EXPECT_TRUE(UserNameProblem(std::string(31, 'n')));
  EXPECT_FALSE(UserNameProblem("bob smith"));
  EXPECT_TRUE(UserNameProblem("bob\nsmith"));
  EXPECT_TRUE(UserNameProblem(std::string("bob\0smith", 9)));
  EXPECT_TRUE(UserNameProblem("DATA"));
  EXPECT_TRUE(UserNameProblem("QUIT"));

  EXPECT_TRUE(PasswordProblem("abc"));
  EXPECT_FALSE(PasswordProblem("abcd"));
  EXPECT_FALSE(PasswordProblem(std::string(13, 'p')));
  EXPECT_TRUE(PasswordProblem(std::string(14, 'p')));
  EXPECT_TRUE(PasswordProblem("pa\nss"));
  EXPECT_FALSE(PasswordProblem("pa\rss"));  // any byte but a line feed
}

TEST(Credentials, HashesVerifyOnlyTheirOwnPassword) {
  const std::string hash = HashPassword("secret1", HashCost::kMinimal);
  EXPECT_TRUE(hash.starts_with("$argon2id$"));
  EXPECT_TRUE(VerifyPassword(hash, "secret1"));
  EXPECT_FALSE(VerifyPassword(hash, "secret2"));
  EXPECT_FALSE(VerifyPassword(hash, "secret"));
  EXPECT_NE(HashPassword("secret1", HashCost::kMinimal), hash);  // salted
  EXPECT_FALSE(VerifyPassword("not a hash", "secret1"));
  EXPECT_FALSE(VerifyPassword(std::string(200, '$'), "secret1"));
  EXPECT_EQ(ParseHashCost("min"), HashCost::kMinimal);
  EXPECT_EQ(ParseHashCost("interactive"), HashCost::kInteractive);
  EXPECT_FALSE(ParseHashCost("cheap"));
}

TEST(DataDir, FolderNamesAreSinglePathComponents) {
  EXPECT_EQ(UserFolderName("alice.b-c_d@e"), "alice.b-c_d@e");
  EXPECT_EQ(UserFolderName("bob smith"), "bob%20smith");
  EXPECT_EQ(UserFolderName("../../etc"), "%2E.%2F..%2Fetc");
  EXPECT_EQ(UserFolderName("a%2F"), "a%252F");  // the escape itself is escaped
  EXPECT_EQ(UserFolderName("\xff\x01"), "%FF%01");
}

TEST(VerifiedCache, RemembersAMatchForItsTimeAndItsHashOnly) {
  VerifiedCache cache(300s);
  const auto t0 = VerifiedCache::Clock::time_point{} + 1000s;
  EXPECT_FALSE(cache.Contains("$hash1", "secret1", t0));
  cache.Insert("$hash1", "secret1", t0);
  EXPECT_TRUE(cache.Contains("$hash1", "secret1", t0 + 299s));
  EXPECT_FALSE(cache.Contains("$hash1", "secret2", t0));
  EXPECT_FALSE(cache.Contains("$hash2", "secret1", t0));  // the account was re-created
  EXPECT_FALSE(cache.Contains("$hash1", "secret1", t0 + 300s));

  VerifiedCache off(0s);
  off.Insert("$hash1", "secret1", t0);
  EXPECT_FALSE(off.Contains("$hash1", "secret1", t0));
}

}  // namespace
}  // namespace corvantis::server
