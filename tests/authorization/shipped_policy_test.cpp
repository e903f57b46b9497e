// The polkit policy shipped in dist/polkit declares the action the authority asks for each right,
// with the right's own text, and admits no implicit grant.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "authorization/helper_tool_common.h"
#include "platform/authorization/polkit.h"
#include "tests/support/files.h"

using test_support::read_text;

namespace {

struct action_t {
  std::string message;
  std::string defaults;
};

std::map<std::string, action_t> declared_actions() {
  const std::string policy = read_text(std::string(VELMORA_SOURCE_DIR) +
                                       "/dist/polkit/com.corvantix.Velmora.Helper.policy");
  const std::regex action(
      R"re(<action id="([^"]+)">[\s\S]*?<message>([^<]*)</message>[\s\S]*?<defaults>([\s\S]*?)</defaults>)re");
  std::map<std::string, action_t> actions;
  for (std::sregex_iterator it(policy.begin(), policy.end(), action), end; it != end; ++it) {
    actions[(*it)[1]] = {(*it)[2], (*it)[3]};
  }
  return actions;
}

TEST(ShippedPolicy, EveryRightHasItsActionWithItsTextAndOnlyAdministratorsAreAsked) {
  const auto actions = declared_actions();
  ASSERT_EQ(actions.size(), 5U);
  helper_tool_common_t::enumerate_rights_using_block(
      [&](const std::string& name, const std::string&, const std::string& description) {
        const std::string id = platform::authorization::polkit_action_for_right(name);
        EXPECT_EQ(id, name);
        ASSERT_TRUE(actions.contains(id)) << id;
        EXPECT_EQ(actions.at(id).message, description);
      });
  ASSERT_TRUE(actions.contains(platform::authorization::kPolkitOtherRightsAction));
  const std::regex only_admin(R"(\s*(<allow_\w+>auth_admin</allow_\w+>\s*){3})");
  for (const auto& [id, action] : actions) {
    EXPECT_TRUE(std::regex_match(action.defaults, only_admin)) << id << ": " << action.defaults;
  }
}

TEST(ShippedPolicy, AdministratorsAreTheAdminGroupForOurActionsOnly) {
  const std::string rules = read_text(std::string(VELMORA_SOURCE_DIR) +
                                      "/dist/polkit/40-com.corvantix.Velmora.Helper.rules");
  EXPECT_NE(rules.find("polkit.addAdminRule"), std::string::npos);
  EXPECT_NE(rules.find(std::string("action.id.indexOf(\"") +
                       platform::authorization::kPolkitActionPrefix + "\") == 0"),
            std::string::npos);
  EXPECT_NE(rules.find("return [\"unix-group:admin\"];"), std::string::npos);
  EXPECT_EQ(rules.find("polkit.Result.YES"), std::string::npos);
}

}  // namespace
