#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "platform/foundation/open_files_limit.h"
#include "service/helper_tool.h"
#include "tests/sandbox/support.h"
#include "tests/system/replaced_tool.h"
#include "trace/trace.h"

namespace {

using trace_lines_t = std::vector<std::pair<std::string, std::string>>;
using sandbox::journal_entry_t;

const std::string trace_path = "/var/log/tuning-test.trace";
const journal_entry_t launchctl_limit{"/bin/launchctl", {"limit", "maxfiles", "65536", "1000000"}};

class TuningTest : public testing::Test {
 protected:
  void SetUp() override {
    ::unlink(trace_path.c_str());
    trace_use_path(string_t(trace_path.c_str()));
    sandbox::clear_journal();
  }
  void TearDown() override {
    platform::open_files_limit::use_reader(nullptr);
    sandbox::let_tool_succeed("launchctl");
    sandbox::let_tool_succeed("sysctl");
    trace_use_path(string_t(""));
  }

  static trace_lines_t lines() { return trace_lines_of(trace_path, "helper_tool"); }

  helper_tool_t helper;
};

// The limits that the reader under test reports.
rlimit reported_limit{};
int reported_error = 0;

int report_limit(rlimit* limit) {
  if (reported_error != 0) {
    errno = reported_error;
    return -1;
  }
  *limit = reported_limit;
  return 0;
}

struct limit_case_t {
  const char* name;
  rlim_t soft;
  rlim_t hard;
  trace_lines_t expected_lines;
  bool adjusted;
};

const std::string third_party = "os maxfiles seems to be modified by 3rd party software";
const std::string adjusting = "Adjusting macOS settings (launchctl limit maxfiles)..";

TEST_F(TuningTest, OpenFilesLimitCases) {
  const std::vector<limit_case_t> cases = {
      {"unlimited hard", 256, RLIM_INFINITY, {{"info", "os maxfiles values 256 : -1"}}, false},
      {"unlimited both",
       RLIM_INFINITY,
       RLIM_INFINITY,
       {{"info", "os maxfiles values -1 : -1"}},
       false},
      {"10240/256",
       256,
       10240,
       {{"info", "os maxfiles values 256 : 10240"},
        {"warning", third_party},
        {"warning", adjusting}},
       true},
      {"10240/1024",
       1024,
       10240,
       {{"info", "os maxfiles values 1024 : 10240"}, {"warning", third_party}},
       false},
      {"10240/1023",
       1023,
       10240,
       {{"info", "os maxfiles values 1023 : 10240"},
        {"warning", third_party},
        {"warning", adjusting}},
       true},
      {"beyond 32 bits",
       (rlim_t{1} << 32) + 5,
       (rlim_t{1} << 33) + 4096,
       {{"info", "os maxfiles values 5 : 4096"}, {"warning", third_party}},
       false},
  };
  platform::open_files_limit::use_reader(report_limit);
  reported_error = 0;
  for (const auto& limit_case : cases) {
    SCOPED_TRACE(limit_case.name);
    SetUp();
    reported_limit = {limit_case.soft, limit_case.hard};
    std::vector<bool> replies;
    helper.fixOSMaxFilesIfNeedAndReply([&](bool value) { replies.push_back(value); });

    EXPECT_EQ(replies, std::vector<bool>{true});
    EXPECT_EQ(lines(), limit_case.expected_lines);
    EXPECT_EQ(sandbox::read_journal(), limit_case.adjusted
                                           ? std::vector<journal_entry_t>{launchctl_limit}
                                           : std::vector<journal_entry_t>{});
  }
}

TEST_F(TuningTest, UnreadableLimitIsReportedAndStillAnswered) {
  platform::open_files_limit::use_reader(report_limit);
  reported_error = EPERM;
  std::vector<bool> replies;
  helper.fixOSMaxFilesIfNeedAndReply([&](bool value) { replies.push_back(value); });
  reported_error = 0;

  EXPECT_EQ(replies, std::vector<bool>{true});
  EXPECT_EQ(lines(), (trace_lines_t{{"warning", "Can't get RLIMIT_NOFILE (1)"}}));
  EXPECT_TRUE(sandbox::read_journal().empty());
}

TEST_F(TuningTest, StartUpRunWithoutReplyAndFailingLaunchctl) {
  platform::open_files_limit::use_reader(report_limit);
  reported_error = 0;
  reported_limit = {256, 10240};
  sandbox::make_tool_fail("launchctl", 5);
  helper.fixOSMaxFilesIfNeedAndReply(bool_reply_t{});
  EXPECT_EQ(lines().size(), 3u);
  EXPECT_EQ(sandbox::read_journal(), std::vector<journal_entry_t>{launchctl_limit});
  EXPECT_EQ(helper._hackOSMaxFiles(), 5);
}

// The process's real limit, set in a child process so the test's own limit stays as it was.
TEST_F(TuningTest, RealLimitsOfAChildProcess) {
  for (const auto& [soft, hard, adjusted] :
       std::vector<std::tuple<rlim_t, rlim_t, bool>>{{256, 10240, true}, {2048, 4096, false}}) {
    SetUp();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const rlimit limit{soft, hard};
      if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(2);
      bool answered = false;
      helper.fixOSMaxFilesIfNeedAndReply([&](bool value) { answered = value; });
      ::_exit(answered ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto trace = lines();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace[0].second,
              "os maxfiles values " + std::to_string(soft) + " : " + std::to_string(hard));
    EXPECT_EQ(sandbox::read_journal().size(), adjusted ? 1u : 0u);
  }
}

class DarkWakeTest : public TuningTest {
 protected:
  std::optional<std::int32_t> set_mode(std::int32_t mode) {
    std::optional<std::int32_t> answer;
    int replies = 0;
    helper.set_darkwake_mode(mode, [&](std::int32_t value) {
      answer = value;
      ++replies;
    });
    EXPECT_EQ(replies, 1);
    return answer;
  }
  static std::vector<std::string> error_messages() {
    std::vector<std::string> messages;
    for (const auto& [level, message] : lines()) {
      if (level == "error") messages.push_back(message);
    }
    return messages;
  }
};

TEST_F(DarkWakeTest, AnswersThePreviousMode) {
  ::unlink("/var/run/sysctl.darkwake");
  EXPECT_EQ(set_mode(3), 0);  // the tool prints "debug.darkwake: 0 -> 3"
  EXPECT_EQ(set_mode(-2), 3);
  EXPECT_EQ(set_mode(7), -2);
  EXPECT_TRUE(error_messages().empty());

  const std::vector<journal_entry_t> expected = {
      {"/usr/sbin/sysctl", {"debug.darkwake=3"}},
      {"/usr/sbin/sysctl", {"debug.darkwake=-2"}},
      {"/usr/sbin/sysctl", {"debug.darkwake=7"}},
  };
  EXPECT_EQ(sandbox::read_journal(), expected);
}

TEST_F(DarkWakeTest, PreviousModeOfMinusOneCountsAsFailure) {
  EXPECT_NE(set_mode(-1), std::nullopt);
  EXPECT_EQ(set_mode(4), -1);
  EXPECT_EQ(error_messages(), std::vector<std::string>{"setting darkwake mode failed"});
}

TEST_F(DarkWakeTest, FailingSysctlAnswersMinusOne) {
  sandbox::make_tool_fail("sysctl", 1);
  EXPECT_EQ(set_mode(1), -1);
  EXPECT_EQ(error_messages(), std::vector<std::string>{"setting darkwake mode failed"});
  EXPECT_EQ(sandbox::journal_calls_of("/usr/sbin/sysctl").size(), 1u);
}

TEST_F(DarkWakeTest, OutputsOfOtherShapes) {
  const std::vector<std::pair<std::string, std::int32_t>> outputs = {
      {"debug.darkwake: 1 -> 2 -> 3\\n", -1},
      {"debug.darkwake: 5\\n", -1},
      {"kern.other: 1 -> 2\\n", -1},
      {"", -1},
      {"noise debug.darkwake:  7abc -> 1\\n", 7},
      {"debug.darkwake: -> 4\\n", 0},
      {"debug.darkwake: 99999999999 -> 1\\n", 2147483647},
      // Everything after the name counts, later lines too.
      {"x\\ndebug.darkwake: 2 -> 1\\ndebug.darkwake: 9 -> 9\\n", -1},
      {"x\\ndebug.darkwake: 2 -> 1\\nother line\\n", 2},
  };
  for (const auto& [output, expected] : outputs) {
    SCOPED_TRACE(output);
    SetUp();
    replaced_tool_t sysctl("/usr/sbin/sysctl", "printf '" + output + "'");
    EXPECT_EQ(set_mode(1), expected);
    EXPECT_EQ(error_messages().size(), expected == -1 ? 1u : 0u);
    EXPECT_EQ(sysctl.calls(), std::vector<std::vector<std::string>>{{"debug.darkwake=1"}});
  }
}

}  // namespace
