// The stand-in launchctl by its macOS path, with its state in the root's /var/run/launchd.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "tests/sandbox/support.h"
#include "tests/support/files.h"
#include "tests/tools/job_list_writer.h"

namespace {

using sandbox::run;

constexpr const char* launchctl = "/bin/launchctl";

class LaunchctlTool : public testing::Test {
 protected:
  void TearDown() override {
    run({launchctl, "unload", path_});
    sandbox::let_tool_succeed("launchctl");
  }

  std::string write_list() {
    EXPECT_TRUE(write_job_list(path_, list_));
    return path_;
  }
  // The pid column of the job's line in "launchctl list", nothing when it is not listed.
  std::optional<std::string> listed_pid() {
    const auto listing = run({launchctl, "list"});
    EXPECT_TRUE(listing.output.starts_with("PID\tStatus\tLabel\n")) << listing.output;
    const auto end = listing.output.find("\t0\t" + list_.label + "\n");
    if (end == std::string::npos) return std::nullopt;
    const auto start = listing.output.rfind('\n', end) + 1;
    return listing.output.substr(start, end - start);
  }
  static bool process_exists(const std::string& pid) {
    return std::filesystem::exists("/proc/" + pid) && ::kill(std::stoi(pid), 0) == 0;
  }

  job_list_t list_;
  const std::string path_ = "/Library/LaunchDaemons/" + list_.label + ".plist";
};

TEST_F(LaunchctlTool, RunAtLoadStartsTheJobAndStopStartsAndUnloadEndIt) {
  list_.run_at_load = true;
  ASSERT_EQ(run({launchctl, "load", write_list()}).status, 0);
  const auto first = listed_pid();
  ASSERT_TRUE(first && *first != "-");
  EXPECT_NE(test_support::read_text("/proc/" + *first + "/cmdline").find("300"), std::string::npos);

  EXPECT_EQ(run({launchctl, "stop", list_.label}).status, 0);
  EXPECT_EQ(listed_pid(), "-");
  EXPECT_TRUE(sandbox::eventually([&] { return !process_exists(*first); }));

  EXPECT_EQ(run({launchctl, "start", list_.label}).status, 0);
  const auto second = listed_pid();
  ASSERT_TRUE(second && *second != "-");
  EXPECT_NE(*second, *first);

  EXPECT_EQ(run({launchctl, "unload", path_}).status, 0);
  EXPECT_FALSE(listed_pid());
  EXPECT_TRUE(sandbox::eventually([&] { return !process_exists(*second); }));
}

TEST_F(LaunchctlTool, WithoutRunAtLoadTheJobIsLoadedButNotStarted) {
  ASSERT_EQ(run({launchctl, "load", write_list()}).status, 0);
  EXPECT_EQ(listed_pid(), "-");
}

TEST_F(LaunchctlTool, ADisabledListIsRefused) {
  list_.disabled = true;
  list_.run_at_load = true;
  const auto refused = run({launchctl, "load", write_list()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.errors.find("disabled"), std::string::npos) << refused.errors;
  EXPECT_FALSE(listed_pid());
  EXPECT_EQ(run({launchctl, "start", list_.label}).status, 1);
}

TEST_F(LaunchctlTool, ABinaryListLoads) {
  list_.run_at_load = true;
  ASSERT_TRUE(write_job_list(path_, list_, true));
  EXPECT_EQ(run({launchctl, "load", path_}).status, 0);
  EXPECT_NE(listed_pid().value_or("-"), "-");
}

TEST_F(LaunchctlTool, AFailingLoadOnDemandLoadsNothing) {
  list_.run_at_load = true;
  sandbox::make_tool_fail("launchctl");
  EXPECT_EQ(run({launchctl, "load", write_list()}).status, 1);
  sandbox::let_tool_succeed("launchctl");
  EXPECT_FALSE(listed_pid());
}

TEST_F(LaunchctlTool, LimitIsRecordedAndShown) {
  EXPECT_EQ(run({launchctl, "limit", "maxfiles", "65536", "1000000"}).status, 0);
  const auto shown = run({launchctl, "limit", "maxfiles"});
  EXPECT_EQ(shown.status, 0);
  EXPECT_EQ(shown.output, "\tmaxfiles    65536           1000000\n");
}

}  // namespace
