#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/base/unique_fd.h"
#include "platform/foundation/home_directory.h"
#include "platform/foundation/nslog.h"

namespace {

TEST(HomeDirectory, KnownAndUnknownUsers) {
  EXPECT_EQ(platform::user_name_for_uid(0), "root");
  EXPECT_EQ(platform::NSHomeDirectoryForUser("root"), "/root");
  EXPECT_EQ(platform::NSHomeDirectoryForUser("<unknown>"), "");
  EXPECT_EQ(platform::NSHomeDirectoryForUser(""), "");
  EXPECT_FALSE(platform::user_name_for_uid(4000000000u));
}

// What the call wrote to standard error.
template <typename call_t>
std::string standard_error_of(call_t call) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  platform::unique_fd_t read_end(fds[0]);
  platform::unique_fd_t saved(::dup(STDERR_FILENO));
  ::dup2(fds[1], STDERR_FILENO);
  ::close(fds[1]);
  call();
  ::dup2(saved.get(), STDERR_FILENO);
  char buffer[8192] = {};
  const ssize_t n = ::read(read_end.get(), buffer, sizeof(buffer));
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string{};
}

TEST(NsLog, WritesOneLinePrefixedWithThePid) {
  const std::string line = standard_error_of(
      [] { platform::NSLog("Error: can't create trace file at %s", "/nowhere/.velmora"); });
  const std::string ending =
      "[" + std::to_string(::getpid()) + "] Error: can't create trace file at /nowhere/.velmora\n";
  ASSERT_GE(line.size(), ending.size());
  EXPECT_EQ(line.substr(line.size() - ending.size()), ending);
  EXPECT_EQ(line.find('\n'), line.size() - 1);
}

TEST(NsLog, AnOverlongMessageIsCutButStillEndsItsLine) {
  const std::string line =
      standard_error_of([] { platform::NSLog("%s", std::string(5000, 'x').c_str()); });
  ASSERT_FALSE(line.empty());
  EXPECT_LT(line.size(), 5000u);
  EXPECT_EQ(line.find('\n'), line.size() - 1);
}

}  // namespace
