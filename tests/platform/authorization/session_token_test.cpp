#include "platform/authorization/session_token.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "tests/support/files.h"
#include "tests/support/scratch_directory.h"

using test_support::scratch_directory_t;
using test_support::write_text;

namespace authorization = platform::authorization;

TEST(SessionToken, HexIsLowercaseTwoDigitsPerByte) {
  authorization::session_token_t token{};
  token[0] = 0x00;
  token[1] = 0xab;
  token[31] = 0xf0;
  const std::string hex = authorization::session_token_hex(token);
  ASSERT_EQ(hex.size(), 64U);
  EXPECT_EQ(hex.substr(0, 4), "00ab");
  EXPECT_EQ(hex.substr(60), "00f0");
  EXPECT_EQ(authorization::session_file_path("/var/run/authd", token), "/var/run/authd/" + hex);
}

TEST(SessionToken, OnlyExactlyThirtyTwoBytesMakeAToken) {
  const std::vector<std::uint8_t> short_form(31, 7), exact(32, 7), long_form(33, 7);
  EXPECT_FALSE(authorization::session_token_from_bytes(short_form));
  EXPECT_FALSE(authorization::session_token_from_bytes(long_form));
  EXPECT_FALSE(authorization::session_token_from_bytes({}));
  const auto token = authorization::session_token_from_bytes(exact);
  ASSERT_TRUE(token);
  EXPECT_EQ((*token)[31], 7);
}

class SessionFileTest : public ::testing::Test {
 protected:
  scratch_directory_t dir;
};

TEST_F(SessionFileTest, RegularFileNamesItsOwner) {
  write_text(dir.path("token"), "");
  const auto file = authorization::session_file(dir.path("token"));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->owner, ::geteuid());
}

TEST_F(SessionFileTest, OwnerFollowsTheFileNotTheCaller) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file away needs root";
  write_text(dir.path("token"), "");
  ASSERT_EQ(::chown(dir.path("token").c_str(), 1234, 1234), 0);
  EXPECT_EQ(authorization::session_file(dir.path("token"))->owner, 1234U);
}

TEST_F(SessionFileTest, AnythingButASingleRegularFileIsRefused) {
  write_text(dir.path("regular"), "");
  ASSERT_EQ(::symlink(dir.path("regular").c_str(), dir.path("link").c_str()), 0);
  ASSERT_EQ(::mkdir(dir.path("directory").c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo(dir.path("fifo").c_str(), 0600), 0);  // must not block the check
  write_text(dir.path("linked"), "");
  ASSERT_EQ(::link(dir.path("linked").c_str(), dir.path("second-name").c_str()), 0);

  EXPECT_TRUE(authorization::session_file(dir.path("regular")));
  EXPECT_FALSE(authorization::session_file(dir.path("link")));
  EXPECT_FALSE(authorization::session_file(dir.path("directory")));
  EXPECT_FALSE(authorization::session_file(dir.path("fifo")));
  EXPECT_FALSE(authorization::session_file(dir.path("linked")));
  EXPECT_FALSE(authorization::session_file(dir.path("missing")));
}

// Credentials rest on this: a file made again under the same name, while the first one is held
// open, is never taken for the first.
TEST_F(SessionFileTest, FileMadeAgainWhileTheFirstIsHeldIsAnotherFile) {
  const std::string path = dir.path("token");
  write_text(path, "");
  const auto held = authorization::open_session_file(path);
  ASSERT_TRUE(held);
  const auto first = authorization::session_file_of(held.get());
  ASSERT_TRUE(first);
  EXPECT_EQ(authorization::session_file(path), first);
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(::unlink(path.c_str()), 0);
    write_text(path, "");
    const auto again = authorization::session_file(path);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->owner, first->owner);
    EXPECT_NE(again, first);
  }
}
