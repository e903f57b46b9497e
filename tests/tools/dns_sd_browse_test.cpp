#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>

#include "tools/dns-sd/browse.h"

namespace standin {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (auto end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  EXPECT_EQ(start, text.size()) << "text does not end in a newline";
  return lines;
}

class DnsSdBrowse : public testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  // 1970-01-01 09:05:03.042 UTC, a Thursday.
  const std::timespec moment_{9 * 3600 + 5 * 60 + 3, 42'000'000};
};

TEST_F(DnsSdBrowse, ServicesAreThoseOfTheBrowsedType) {
  const std::string file =
      "_sleep-proxy._udp 70-35-60-63.1 Kitchen\n"
      "# _sleep-proxy._udp commented out\n"
      "\n"
      "_http._tcp Printer\n"
      "_sleep-proxy._udp. 10-1-1-1.2 Office\n"
      "_sleep-proxy._udp\n"
      "_sleep-proxy._udp 99-0-0-1.3 Last without newline";
  const auto found = services_of_type(file, "_sleep-proxy._udp");
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].instance, "70-35-60-63.1 Kitchen");
  EXPECT_EQ(found[1].instance, "10-1-1-1.2 Office");
  EXPECT_EQ(found[2].instance, "99-0-0-1.3 Last without newline");
  EXPECT_EQ(services_of_type(file, "_http._tcp.").size(), 1u);
  EXPECT_TRUE(services_of_type(file, "_ssh._tcp").empty());
}

// Callers search every line but the first for the service type, so the other header lines must
// never name it: without results, a browse has found nothing.
TEST_F(DnsSdBrowse, HeaderNamesTheTypeOnlyInItsFirstLine) {
  const auto lines = lines_of(browse_header("_sleep-proxy._udp", "local", moment_));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Browsing for _sleep-proxy._udp.local");
  EXPECT_EQ(lines[1], "DATE: ---Thu 01 Jan 1970---");
  EXPECT_EQ(lines[2], " 9:05:03.042  ...STARTING...");
  EXPECT_EQ(lines[3],
            "Timestamp     A/R    Flags  if Domain               Service Type         Instance "
            "Name");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].find("_sleep-proxy._udp"), std::string::npos) << lines[i];
  }
}

TEST_F(DnsSdBrowse, ResultLineNamesDomainTypeAndInstance) {
  const service_t kitchen{"_sleep-proxy._udp", "70-35-60-63.1 Kitchen"};
  const auto more = lines_of(browse_result(kitchen, "local", moment_, true));
  ASSERT_EQ(more.size(), 1u);
  EXPECT_EQ(more[0],
            " 9:05:03.042  Add        3   1 local.               _sleep-proxy._udp.   "
            "70-35-60-63.1 Kitchen");
  const auto last = browse_result(kitchen, "local.", moment_, false);
  EXPECT_NE(last.find("Add        2"), std::string::npos) << last;
  EXPECT_NE(last.find(" local.  "), std::string::npos) << last;
}

}  // namespace
}  // namespace standin
