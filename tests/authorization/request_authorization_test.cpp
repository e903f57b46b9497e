#include "authorization/request_authorization.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>

#include "authorization/helper_tool_common.h"
#include "platform/authorization/credentials_cache.h"
#include "platform/authorization/rights_database.h"
#include "service/selectors.h"
#include "tests/support/files.h"
#include "tests/support/sandbox_session.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/trace_lines.h"

namespace authorization = platform::authorization;
using namespace sandbox_session;
using test_support::scratch_directory_t;
using test_support::write_text;

namespace {

constexpr const char* kAgent = "/usr/libexec/authorization-agent";
constexpr const char* kWrongData =
    "wrong auth data Error Domain=NSOSStatusErrorDomain Code=-50 \"(null)\"";

std::string auth_failed(platform::os_status_t code) {
  return "external auth failed Error Domain=NSOSStatusErrorDomain Code=" + std::to_string(code) +
         " \"(null)\"";
}

class RequestAuthorizationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clean_root();
    trace_use_path(string_t(trace_path.c_str()));
  }

  // The reply of check_global_settings_auth, which must come exactly once.
  bool global_settings(const auth_data_t& data) {
    int replies = 0;
    bool answer = false;
    request_authorization::check_global_settings_auth(trace, data, [&](bool granted) {
      ++replies;
      answer = granted;
    });
    EXPECT_EQ(replies, 1);
    return answer;
  }

  std::vector<std::string> messages(const std::string& level) {
    std::vector<std::string> found;
    for (const auto& line : test_support::read_trace_lines(trace_path)) {
      if (line.level == level) found.push_back(line.message);
    }
    return found;
  }

  scratch_directory_t dir;
  std::string trace_path = dir.path("helper.trace");
  trace_t trace{"helper_tool"};
};

TEST_F(RequestAuthorizationTest, MalformedDataIsRefusedBeforeAnyAuthorityCall) {
  set_agent_scenario({"alice alice-secret"});
  const auto form = register_session_for(kAlice);
  auto longer = form;
  longer.push_back(0);
  const std::vector<std::uint8_t> shorter(form.begin(), form.end() - 1);

  for (const auth_data_t& data : {auth_data_t(shorter), auth_data_t(longer), auth_data_t()}) {
    EXPECT_FALSE(global_settings(data));
  }
  const auto error =
      request_authorization::check_authorization(trace, shorter, selector::install_velmora);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, platform::errSecParam);
  EXPECT_EQ(messages("error"), std::vector<std::string>(4, kWrongData));
  EXPECT_TRUE(journal_calls(kAgent).empty());
  EXPECT_NE(::access(authorization::kAuthorizationDatabasePath, F_OK), 0);  // never consulted
}

TEST_F(RequestAuthorizationTest, UnregisteredTokenFailsWithInvalidReference) {
  EXPECT_FALSE(global_settings(std::vector<std::uint8_t>(32, 0x42)));
  EXPECT_EQ(messages("error"),
            std::vector<std::string>{auth_failed(platform::errAuthorizationInvalidRef)});
}

TEST_F(RequestAuthorizationTest, AgentDecidesTheGlobalSettingsRight) {
  const auto form = register_session_as(kAlice);
  set_agent_scenario({"cancel"});
  const auto cancelled =
      request_authorization::check_authorization(trace, form, selector::check_global_settings_auth);
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(cancelled->code, platform::errAuthorizationCanceled);

  set_agent_scenario({"bob bob-secret"});
  EXPECT_FALSE(global_settings(form));
  set_agent_scenario({"alice wrong", "alice wrong", "alice wrong"});
  EXPECT_FALSE(global_settings(form));
  set_agent_scenario({"alice alice-secret"});
  EXPECT_TRUE(global_settings(form));

  EXPECT_EQ(messages("error"),
            (std::vector<std::string>{auth_failed(platform::errAuthorizationCanceled),
                                      auth_failed(platform::errAuthorizationDenied),
                                      auth_failed(platform::errAuthorizationDenied)}));
  const auto calls = journal_calls(kAgent);
  ASSERT_EQ(calls.size(), 6U);
  EXPECT_EQ(calls[0][0], "com.corvantix.Velmora.Helper.global_settings");
}

TEST_F(RequestAuthorizationTest, CommandWithoutARightIsRefused) {
  const auto form = register_session_for(kAlice);
  set_agent_scenario({"alice alice-secret"});
  const auto error = request_authorization::check_authorization(trace, form, selector::get_version);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, platform::errAuthorizationDenied);
  EXPECT_EQ(messages("error"),
            std::vector<std::string>{auth_failed(platform::errAuthorizationDenied)});
  EXPECT_TRUE(journal_calls(kAgent).empty());
}

TEST_F(RequestAuthorizationTest, ResetRemovesEveryRightThroughTheTool) {
  authorization::rights_database_t database(authorization::kAuthorizationDatabasePath);
  for (const auto& name : helper_tool_common_t::authRightNames()) {
    ASSERT_EQ(database.set(name, {"is-admin", ""}), platform::errAuthorizationSuccess);
  }
  ASSERT_EQ(database.set("com.example.unrelated", {"is-admin", ""}),
            platform::errAuthorizationSuccess);

  request_authorization::resetAuthDB(trace);

  EXPECT_EQ(messages("info"), std::vector<std::string>{"Cleaning authorizationdb.."});
  EXPECT_TRUE(messages("warning").empty());
  std::vector<std::vector<std::string>> expected;
  for (const auto& name : helper_tool_common_t::authRightNames()) {
    expected.push_back({"authorizationdb", "remove", name});
    EXPECT_EQ(database.get(name, nullptr), platform::errAuthorizationDenied) << name;
  }
  EXPECT_EQ(journal_calls("/usr/bin/security"), expected);
  EXPECT_EQ(database.get("com.example.unrelated", nullptr), platform::errAuthorizationSuccess);
}

TEST_F(RequestAuthorizationTest, ResetGoesOnWhenTheToolFails) {
  write_text("/var/run/standin-fail/security", "");
  request_authorization::resetAuthDB(trace);

  const auto lines = test_support::read_trace_lines(trace_path);
  ASSERT_EQ(lines.size(), 5U);
  EXPECT_EQ(lines[0].level, "info");
  EXPECT_EQ(lines[0].message, "Cleaning authorizationdb..");
  const auto names = helper_tool_common_t::authRightNames();
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(lines[i + 1].level, "warning");
    EXPECT_EQ(lines[i + 1].name, "helper_tool");
    EXPECT_EQ(lines[i + 1].message, "can't delete " + names[i]);
  }
  EXPECT_EQ(journal_calls("/usr/bin/security").size(), 4U);
}

class RightsSetupTest : public RequestAuthorizationTest {
 protected:
  void SetUp() override {
    RequestAuthorizationTest::SetUp();
    set_agent_scenario({"alice alice-secret"});
    ASSERT_EQ(authorization::AuthorizationCreateFromExternalForm(register_session_for(kAlice),
                                                                 &reference),
              platform::errAuthorizationSuccess);
  }

  std::map<std::string, std::pair<std::string, std::string>> database_contents() {
    std::map<std::string, std::pair<std::string, std::string>> rights;
    for (const auto& name : helper_tool_common_t::authRightNames()) {
      authorization::right_definition_t definition;
      if (authorization::AuthorizationRightGet(name, &definition) ==
          platform::errAuthorizationSuccess) {
        rights[name] = {definition.rule, definition.description};
      }
    }
    return rights;
  }

  authorization::authorization_ref_t reference;
};

TEST_F(RightsSetupTest, SetupCreatesMissingRightsOnlyAndNeverOverwrites) {
  helper_tool_common_t::setup_authorization_rights(reference);
  const auto first = database_contents();
  ASSERT_EQ(first.size(), 4U);
  for (const auto& [command, right] : helper_tool_common_t::commandInfo()) {
    EXPECT_EQ(first.at(right.authRightName),
              std::make_pair(right.authRightDefault, right.authRightDescription));
  }
  helper_tool_common_t::setup_authorization_rights(reference);
  EXPECT_EQ(database_contents(), first);

  // An administrator's change in between is kept.
  authorization::rights_database_t(authorization::kAuthorizationDatabasePath)
      .set("com.corvantix.Velmora.Helper.install_velmora", {"authenticate-admin", "changed"});
  helper_tool_common_t::setup_authorization_rights(reference);
  auto expected = first;
  expected["com.corvantix.Velmora.Helper.install_velmora"] = {"authenticate-admin", "changed"};
  EXPECT_EQ(database_contents(), expected);
  EXPECT_TRUE(journal_calls(kAgent).empty());  // adding a missing right asks nobody
}

TEST_F(RightsSetupTest, DeleteRemovesEveryRightAndReportsWhatIsMissing) {
  helper_tool_common_t::setup_authorization_rights(reference);
  ASSERT_EQ(database_contents().size(), 4U);
  helper_tool_common_t::delete_authorization_rights(reference);
  EXPECT_TRUE(database_contents().empty());
  EXPECT_TRUE(messages("error").empty());

  helper_tool_common_t::delete_authorization_rights(reference);
  std::vector<std::string> expected;
  for (const auto& name : helper_tool_common_t::authRightNames()) {
    expected.push_back("Failed to remove authorization right " + name);
  }
  EXPECT_EQ(messages("error"), expected);
}

}  // namespace
