#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

#include "authorization/helper_tool_common.h"
#include "service/selectors.h"

TEST(RightsTable, ExactlyTheFourPrivilegedCommands) {
  const command_info_t table = helper_tool_common_t::commandInfo();
  ASSERT_EQ(table.size(), 4U);
  const auto right = [&](std::string_view command) {
    const auto entry = table.find(command);
    EXPECT_NE(entry, table.end()) << command;
    return entry == table.end() ? command_right_t{} : entry->second;
  };
  const command_right_t install = right(selector::install_velmora);
  EXPECT_EQ(install.authRightName, "com.corvantix.Velmora.Helper.install_velmora");
  EXPECT_EQ(install.authRightDefault, "is-admin");
  EXPECT_EQ(install.authRightDescription, "Velmora is trying to install itself");

  const command_right_t service = right(selector::install_velmora_service);
  EXPECT_EQ(service.authRightName, "com.corvantix.Velmora.Helper.install_service");
  EXPECT_EQ(service.authRightDefault, "is-admin");
  EXPECT_EQ(service.authRightDescription, "Velmora is trying to install global service");

  const command_right_t uninstall = right(selector::uninstall_velmora);
  EXPECT_EQ(uninstall.authRightName, "com.corvantix.Velmora.Helper.uninstall_velmora");
  EXPECT_EQ(uninstall.authRightDefault, "authenticate-admin");
  EXPECT_EQ(uninstall.authRightDescription, "Velmora is trying to uninstall itself");

  const command_right_t settings = right(selector::check_global_settings_auth);
  EXPECT_EQ(settings.authRightName, "com.corvantix.Velmora.Helper.global_settings");
  EXPECT_EQ(settings.authRightDefault, "authenticate-admin");
  EXPECT_EQ(settings.authRightDescription, "Velmora is trying to unlock the global settings");
}

TEST(RightsTable, RightForCommand) {
  EXPECT_EQ(
      helper_tool_common_t::authorization_right_for_command(selector::check_global_settings_auth),
      "com.corvantix.Velmora.Helper.global_settings");
  EXPECT_EQ(helper_tool_common_t::authorization_right_for_command(selector::get_version),
            std::nullopt);
  EXPECT_EQ(helper_tool_common_t::authorization_right_for_command(""), std::nullopt);
  // A selector must match whole, not by prefix.
  EXPECT_EQ(helper_tool_common_t::authorization_right_for_command("check_global_settings_auth:"),
            std::nullopt);
}

TEST(RightsTable, NamesAndEnumerationCoverEveryEntryOnce) {
  const std::vector<std::string> names = helper_tool_common_t::authRightNames();
  const std::set<std::string> unique(names.begin(), names.end());
  EXPECT_EQ(names.size(), 4U);
  EXPECT_EQ(unique, (std::set<std::string>{"com.corvantix.Velmora.Helper.install_velmora",
                                           "com.corvantix.Velmora.Helper.install_service",
                                           "com.corvantix.Velmora.Helper.uninstall_velmora",
                                           "com.corvantix.Velmora.Helper.global_settings"}));

  std::set<std::tuple<std::string, std::string, std::string>> enumerated;
  helper_tool_common_t::enumerate_rights_using_block(
      [&](const std::string& name, const std::string& rule, const std::string& description) {
        enumerated.emplace(name, rule, description);
      });
  std::set<std::tuple<std::string, std::string, std::string>> expected;
  for (const auto& [command, right] : helper_tool_common_t::commandInfo()) {
    expected.emplace(right.authRightName, right.authRightDefault, right.authRightDescription);
  }
  EXPECT_EQ(enumerated, expected);
  EXPECT_EQ(enumerated.size(), 4U);
}
