#include "trace/string_format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A format that reaches the formatter at run time, where the compiler's check of literals does
// not apply: the way "%S" still arrives.
std::string stored(const char* format) {
  return format;
}

TEST(StringFormatTest, FormatsWithTextConversions) {
  EXPECT_STREQ(string_format(stored("%S").c_str(), "abc").c_str(), "abc");
  EXPECT_STREQ(string_format(stored("%s/%S-%d").c_str(), "shm", "chan", 42).c_str(), "shm/chan-42");
  EXPECT_STREQ(string_format("100%%S").c_str(), "100%S");
  EXPECT_STREQ(string_format(stored("%%%S").c_str(), "x").c_str(), "%x");
  EXPECT_STREQ(string_format(nullptr).c_str(), "");
  const string_t empty = string_format(stored("").c_str());
  EXPECT_TRUE(empty.has_array());
  EXPECT_EQ(empty.length(), 0u);
}

// Lengths around each try's limit: a try of capacity N holds N - 2 characters.
TEST(StringFormatTest, TextsAroundTheTryLimitsComeOutWhole) {
  for (const std::size_t length : {1022u, 1023u, 1024u, 2046u, 2047u, 65534u, 65535u, 131070u}) {
    const std::string text(length, 'q');
    const string_t formatted = string_format("%s", text.c_str());
    ASSERT_EQ(formatted.length(), length);
    EXPECT_EQ(formatted.view(), text);
  }
}

TEST(StringFormatTest, TextsPastTheLastTryGiveTheEmptyString) {
  for (const std::size_t length : {131071u, 131072u, 300000u}) {
    const std::string text(length, 'q');
    const string_t formatted = string_format("%s", text.c_str());
    EXPECT_EQ(formatted.length(), 0u) << length;
    EXPECT_TRUE(formatted.has_array());
  }
}

TEST(StringFormatTest, ArgumentsAreReadAfreshOnEveryTry) {
  const std::string long_part(5000, 'z');
  const string_t formatted = string_format("%d:%s:%d", 7, long_part.c_str(), 9);
  EXPECT_EQ(formatted.view(), "7:" + long_part + ":9");
}

}  // namespace
