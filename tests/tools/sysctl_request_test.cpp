#include <gtest/gtest.h>

#include "tools/sysctl/darkwake.h"

namespace standin {
namespace {

TEST(SysctlRequest, NameAndOptionalValue) {
  const auto write = parse_sysctl_request("debug.darkwake=3");
  EXPECT_EQ(write.name, "debug.darkwake");
  EXPECT_EQ(write.value, "3");
  const auto read = parse_sysctl_request("debug.darkwake");
  EXPECT_EQ(read.name, "debug.darkwake");
  EXPECT_FALSE(read.value);
  EXPECT_EQ(parse_sysctl_request("a=b=c").value, "b=c");
  EXPECT_EQ(parse_sysctl_request("debug.darkwake=").value, "");
}

TEST(SysctlRequest, ValuesAreWholeSigned32BitNumbers) {
  EXPECT_EQ(parse_int32("0"), 0);
  EXPECT_EQ(parse_int32("-5"), -5);
  EXPECT_EQ(parse_int32("2147483647"), 2147483647);
  EXPECT_EQ(parse_int32("-2147483648"), -2147483647 - 1);
  for (const char* bad : {"2147483648", "-2147483649", "", "3x", " 3", "3 ", "0x10", "-"}) {
    EXPECT_FALSE(parse_int32(bad)) << '"' << bad << '"';
  }
}

}  // namespace
}  // namespace standin
