#include "authorization/helper_tool_common.h"
#include "service/helper_tool.h"
#include "service/selectors.h"
#include "system/external_commands.h"

namespace authorization = platform::authorization;

namespace {

// Asks for the command's right with interaction, so the user may be shown the dialog. A
// command without a right is refused: there is nothing it could be granted by.
platform::os_status_t copy_command_right(const authorization::authorization_ref_t& reference,
                                         std::string_view command) {
  const std::optional<std::string> right =
      helper_tool_common_t::authorization_right_for_command(command);
  if (!right) return platform::errAuthorizationDenied;
  const authorization::AuthorizationRights rights{{*right, {}, 0}};
  return authorization::AuthorizationCopyRights(
      reference, rights,
      authorization::kAuthorizationFlagInteractionAllowed |
          authorization::kAuthorizationFlagExtendRights);
}

}  // namespace

std::optional<platform::os_status_error_t> helper_tool_t::check_authorization(
    const auth_data_t& auth_data, std::string_view command) {
  if (!auth_data || auth_data->size() != authorization::kAuthorizationExternalFormLength) {
    const platform::os_status_error_t error{platform::errSecParam};
    trace_error(_trace, "wrong auth data %s", error.description().c_str());
    return error;
  }
  authorization::authorization_ref_t reference;
  platform::os_status_t status =
      authorization::AuthorizationCreateFromExternalForm(*auth_data, &reference);
  if (status == platform::errAuthorizationSuccess) status = copy_command_right(reference, command);

  std::optional<platform::os_status_error_t> error;
  if (status != platform::errAuthorizationSuccess) {
    error = platform::os_status_error_t{status};
    trace_error(_trace, "external auth failed %s", error->description().c_str());
  }
  if (reference)
    authorization::AuthorizationFree(reference, authorization::kAuthorizationFlagDefaults);
  return error;
}

void helper_tool_t::check_global_settings_auth(const auth_data_t& auth_data,
                                               const bool_reply_t& reply) {
  reply(!check_authorization(auth_data, selector::check_global_settings_auth));
}

void helper_tool_t::_resetAuthDB() {
  trace_info(_trace, "Cleaning authorizationdb..");
  for (const std::string& name : helper_tool_common_t::authRightNames()) {
    if (!ExternalCommands::remove_authorization(name)) {
      trace_warning(_trace, "can't delete %s", name.c_str());
    }
  }
}
