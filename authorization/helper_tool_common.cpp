#include "authorization/helper_tool_common.h"

#include "service/selectors.h"
#include "trace/trace.h"

namespace authorization = platform::authorization;

command_info_t helper_tool_common_t::commandInfo() {
  return {
      {std::string(selector::install_velmora),
       {"com.corvantix.Velmora.Helper.install_velmora", "is-admin",
        "Velmora is trying to install itself"}},
      {std::string(selector::install_velmora_service),
       {"com.corvantix.Velmora.Helper.install_service", "is-admin",
        "Velmora is trying to install global service"}},
      {std::string(selector::uninstall_velmora),
       {"com.corvantix.Velmora.Helper.uninstall_velmora", "authenticate-admin",
        "Velmora is trying to uninstall itself"}},
      {std::string(selector::check_global_settings_auth),
       {"com.corvantix.Velmora.Helper.global_settings", "authenticate-admin",
        "Velmora is trying to unlock the global settings"}},
  };
}

std::vector<std::string> helper_tool_common_t::authRightNames() {
  std::vector<std::string> names;
  for (const auto& [command, right] : commandInfo())
    names.push_back(right.authRightName);
  return names;
}

std::optional<std::string> helper_tool_common_t::authorization_right_for_command(
    std::string_view command) {
  const command_info_t table = commandInfo();
  const auto entry = table.find(command);
  if (entry == table.end()) return std::nullopt;
  return entry->second.authRightName;
}

void helper_tool_common_t::enumerate_rights_using_block(const rights_block_t& block) {
  for (const auto& [command, right] : commandInfo()) {
    block(right.authRightName, right.authRightDefault, right.authRightDescription);
  }
}

void helper_tool_common_t::setup_authorization_rights(const authorization::authorization_ref_t& a) {
  enumerate_rights_using_block([&a](const std::string& authRightName,
                                    const std::string& authRightDefault,
                                    const std::string& authRightDescription) {
    authorization::right_definition_t definition;
    const platform::os_status_t status =
        authorization::AuthorizationRightGet(authRightName, &definition);
    if (status == platform::errAuthorizationDenied) {
      authorization::AuthorizationRightSet(a, authRightName, authRightDefault,
                                           authRightDescription);
    }
  });
}

void helper_tool_common_t::delete_authorization_rights(
    const authorization::authorization_ref_t& a) {
  enumerate_rights_using_block([&a](const std::string& authRightName, const std::string&,
                                    const std::string&) {
    const platform::os_status_t status = authorization::AuthorizationRightRemove(a, authRightName);
    if (status != platform::errAuthorizationSuccess) {
      trace_t trace("helper_tool");
      trace_error(trace, "Failed to remove authorization right %s", authRightName.c_str());
    }
  });
}
