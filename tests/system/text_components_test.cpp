#include "system/text_components.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using pieces_t = std::vector<std::string>;

std::vector<std::uint8_t> bytes_of(std::string_view text) {
  return {text.begin(), text.end()};
}

TEST(Utf8Decoding, AcceptsValidTextAndRejectsMalformedSequences) {
  EXPECT_EQ(decode_utf8({}), std::string());
  EXPECT_EQ(decode_utf8(bytes_of("plain \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80")),
            "plain \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");

  for (const std::string_view bad : {
           std::string_view("\xFF"),              // never a lead byte
           std::string_view("\xC0\x80"),          // overlong NUL
           std::string_view("\xE0\x80\xAF"),      // overlong slash
           std::string_view("\xED\xA0\x80"),      // surrogate
           std::string_view("\xF4\x90\x80\x80"),  // above U+10FFFF
           std::string_view("ok\xE2\x82"),        // cut short
           std::string_view("\x80"),              // stray continuation
       }) {
    EXPECT_EQ(decode_utf8(bytes_of(bad)), std::nullopt) << testing::PrintToString(bad);
  }
}

TEST(TextSplitting, NewlinesOfThePlatformSet) {
  EXPECT_EQ(components_separated_by_newlines("a\nb\r\nc\n"), (pieces_t{"a", "b", "", "c", ""}));
  EXPECT_EQ(components_separated_by_newlines("a\xE2\x80\xA8"
                                             "b\xC2\x85"
                                             "c"),
            (pieces_t{"a", "b", "c"}));
  EXPECT_EQ(components_separated_by_newlines(""), (pieces_t{""}));
  EXPECT_EQ(components_separated_by_newlines("tab\tstays"), (pieces_t{"tab\tstays"}));
}

TEST(TextSplitting, WhiteSpaceKeepsEmptyFields) {
  EXPECT_EQ(components_separated_by_whitespace("  42 /bin/x\targ"),
            (pieces_t{"", "", "42", "/bin/x", "arg"}));
  EXPECT_EQ(components_separated_by_whitespace("a\xC2\xA0"
                                               "b"),
            (pieces_t{"a", "b"}));
  EXPECT_EQ(components_separated_by_whitespace(""), (pieces_t{""}));
  // A multi-byte character that is not a separator stays whole.
  EXPECT_EQ(components_separated_by_whitespace("\xC3\xA9 x"), (pieces_t{"\xC3\xA9", "x"}));
}

TEST(IntValue, ReadsLikeThePlatform) {
  constexpr auto max = std::numeric_limits<std::int32_t>::max();
  constexpr auto min = std::numeric_limits<std::int32_t>::min();
  const std::vector<std::pair<std::string_view, std::int32_t>> cases = {
      {" 0 ", 0},           {"3", 3},
      {"-12abc", -12},      {"+7", 7},
      {"abc", 0},           {"", 0},
      {"- 5", 0},           {"\t\n 42", 42},
      {"99999999999", max}, {"-99999999999", min},
      {"2147483647", max},  {"-2147483648", min},
      {"2147483648", max},  {"0012", 12},
      {" -1 ", -1},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(int_value(text), expected) << '"' << text << '"';
  }
}

}  // namespace
