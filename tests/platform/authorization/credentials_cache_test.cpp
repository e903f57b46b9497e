#include "platform/authorization/credentials_cache.h"

#include <gtest/gtest.h>

namespace authorization = platform::authorization;
using namespace std::chrono_literals;

class CredentialsCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    authorization::use_credentials_clock([this] { return now; });
  }
  void TearDown() override {
    authorization::forget_authentication("token-a", 1001);
    authorization::use_credentials_clock(nullptr);
  }

  std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
};

TEST_F(CredentialsCacheTest, ReusedForFiveMinutesThenExpired) {
  EXPECT_FALSE(authorization::has_recent_authentication("token-a", 1001));
  authorization::remember_authentication("token-a", 1001);
  now += 299s;
  EXPECT_TRUE(authorization::has_recent_authentication("token-a", 1001));
  now += 1s;
  EXPECT_FALSE(authorization::has_recent_authentication("token-a", 1001));
}

TEST_F(CredentialsCacheTest, BoundToTokenAndUser) {
  authorization::remember_authentication("token-a", 1001);
  EXPECT_FALSE(authorization::has_recent_authentication("token-b", 1001));
  EXPECT_FALSE(authorization::has_recent_authentication("token-a", 1002));
  authorization::forget_authentication("token-a", 1001);
  EXPECT_FALSE(authorization::has_recent_authentication("token-a", 1001));
}

TEST_F(CredentialsCacheTest, ANewAuthenticationRestartsTheTimeout) {
  authorization::remember_authentication("token-a", 1001);
  now += 200s;
  authorization::remember_authentication("token-a", 1001);
  now += 200s;
  EXPECT_TRUE(authorization::has_recent_authentication("token-a", 1001));
}
