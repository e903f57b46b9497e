#include "platform/security/info_text_order.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string_view>

namespace platform {
namespace {

struct ordering_case_t {
  std::string_view left;
  std::string_view right;
  std::strong_ordering expected;
};

void PrintTo(const ordering_case_t& c, std::ostream* out) {
  *out << '"' << c.left << "\" vs \"" << c.right << '"';
}

class InfoTextOrderTest : public testing::TestWithParam<ordering_case_t> {};

TEST_P(InfoTextOrderTest, OrdersBothWays) {
  const ordering_case_t& c = GetParam();
  EXPECT_EQ(compare_info_texts(c.left, c.right), c.expected) << c.left << " vs " << c.right;
  EXPECT_EQ(compare_info_texts(c.right, c.left), 0 <=> c.expected) << c.right << " vs " << c.left;
}

INSTANTIATE_TEST_SUITE_P(
    Versions, InfoTextOrderTest,
    testing::Values(ordering_case_t{"6.0.0", "6.0.0", std::strong_ordering::equal},
                    ordering_case_t{"6.0.0", "5.9.9", std::strong_ordering::greater},
                    ordering_case_t{"10.0", "6.0.0", std::strong_ordering::greater},
                    ordering_case_t{"6.10", "6.9.9", std::strong_ordering::greater},
                    ordering_case_t{"6.0.1", "6.0.0", std::strong_ordering::greater},
                    ordering_case_t{"6.0", "6.0.0", std::strong_ordering::equal},
                    ordering_case_t{"6", "6.0.0.0", std::strong_ordering::equal},
                    ordering_case_t{"06.00.0", "6.0.0", std::strong_ordering::equal},
                    ordering_case_t{"5.99999999999999999999", "6.0", std::strong_ordering::less},
                    ordering_case_t{"99999999999999999999", "100000000000000000000",
                                    std::strong_ordering::less}));

INSTANTIATE_TEST_SUITE_P(
    Texts, InfoTextOrderTest,
    testing::Values(ordering_case_t{"abc", "abd", std::strong_ordering::less},
                    ordering_case_t{"6.0.0b2", "6.0.0b10", std::strong_ordering::less},
                    ordering_case_t{"6.0.0b1", "6.0.0", std::strong_ordering::greater},
                    ordering_case_t{"", "1", std::strong_ordering::less},
                    ordering_case_t{"1.a", "1.1", std::strong_ordering::greater}));

}  // namespace
}  // namespace platform
