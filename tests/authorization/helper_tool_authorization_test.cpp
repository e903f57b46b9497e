#include <gtest/gtest.h>

#include "service/helper_tool.h"
#include "service/selectors.h"
#include "tests/support/sandbox_session.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/trace_lines.h"

using namespace sandbox_session;
using test_support::scratch_directory_t;

namespace {

// The service object's own operations write through its handle and reply once.
class HelperToolAuthorizationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clean_root();
    trace_use_path(string_t(trace_path.c_str()));
  }

  int replies = 0;
  bool answer = false;
  bool_reply_t reply() {
    return [this](bool granted) {
      ++replies;
      answer = granted;
    };
  }
  scratch_directory_t dir;
  std::string trace_path = dir.path("helper.trace");
};

TEST_F(HelperToolAuthorizationTest, GlobalSettingsCheckRepliesOnceThroughTheServiceTrace) {
  helper_tool_t helper;
  helper.check_global_settings_auth(std::vector<std::uint8_t>(31, 1), reply());
  EXPECT_EQ(replies, 1);
  EXPECT_FALSE(answer);

  set_agent_scenario({"alice alice-secret"});
  helper.check_global_settings_auth(register_session_for(kAlice), reply());
  EXPECT_EQ(replies, 2);
  EXPECT_TRUE(answer);

  const auto lines = test_support::read_trace_lines(trace_path);
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_EQ(lines[0].level, "error");
  EXPECT_EQ(lines[0].name, "helper_tool");
  EXPECT_EQ(lines[0].message,
            "wrong auth data Error Domain=NSOSStatusErrorDomain Code=-50 \"(null)\"");
}

TEST_F(HelperToolAuthorizationTest, InstallRightIsAskedForTheInstallCommand) {
  helper_tool_t helper;
  set_agent_scenario({"alice alice-secret"});
  EXPECT_FALSE(helper.check_authorization(register_session_for(kAlice), selector::install_velmora));
  const auto calls = journal_calls("/usr/libexec/authorization-agent");
  ASSERT_EQ(calls.size(), 1U);
  EXPECT_EQ(calls[0][0], "com.corvantix.Velmora.Helper.install_velmora");
}

}  // namespace
