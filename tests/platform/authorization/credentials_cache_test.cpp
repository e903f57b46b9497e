#include "platform/authorization/credentials_cache.h"

#include <gtest/gtest.h>

namespace authorization = platform::authorization;
using namespace std::chrono_literals;

namespace {

// Token "token-a" of alice's file, inode 100.
authorization::session_key_t session(const char* token = "token-a", uid_t user = 1001,
                                     ino_t inode = 100) {
  return {token, {user, 1, inode}};
}

}  // namespace

class CredentialsCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    authorization::use_credentials_clock([this] { return now; });
  }
  void TearDown() override {
    authorization::forget_authentication(session());
    authorization::use_credentials_clock(nullptr);
  }

  std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
};

TEST_F(CredentialsCacheTest, ReusedForFiveMinutesThenExpired) {
  EXPECT_FALSE(authorization::has_recent_authentication(session()));
  authorization::remember_authentication(session(), {});
  now += 299s;
  EXPECT_TRUE(authorization::has_recent_authentication(session()));
  now += 1s;
  EXPECT_FALSE(authorization::has_recent_authentication(session()));
}

TEST_F(CredentialsCacheTest, BoundToTokenUserAndTokenFile) {
  authorization::remember_authentication(session(), {});
  EXPECT_FALSE(authorization::has_recent_authentication(session("token-b")));
  EXPECT_FALSE(authorization::has_recent_authentication(session("token-a", 1002)));
  EXPECT_FALSE(authorization::has_recent_authentication(session("token-a", 1001, 101)));
  authorization::forget_authentication(session());
  EXPECT_FALSE(authorization::has_recent_authentication(session()));
}

TEST_F(CredentialsCacheTest, ANewAuthenticationRestartsTheTimeout) {
  authorization::remember_authentication(session(), {});
  now += 200s;
  authorization::remember_authentication(session(), {});
  now += 200s;
  EXPECT_TRUE(authorization::has_recent_authentication(session()));
}
