#include "authorization/request_authorization.h"

#include <unistd.h>

#include "authorization/helper_tool_common.h"
#include "platform/base/request_sender.h"
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

// An external form is a bearer token: it counts only for the user whose session it names, or
// for root, who may act for anyone. A request made in-process comes from this process's user.
bool caller_owns_session(const authorization::authorization_ref_t& reference) {
  const platform::request_sender_t* sender = platform::current_request_sender();
  const uid_t caller = sender != nullptr ? sender->uid : ::geteuid();
  return caller == 0 || caller == reference.user();
}

}  // namespace

namespace request_authorization {

std::optional<platform::os_status_error_t> check_authorization(trace_t& trace,
                                                               const auth_data_t& auth_data,
                                                               std::string_view command) {
  if (!auth_data || auth_data->size() != authorization::kAuthorizationExternalFormLength) {
    const platform::os_status_error_t error{platform::errSecParam};
    trace_error(trace, "wrong auth data %s", error.description().c_str());
    return error;
  }
  authorization::authorization_ref_t reference;
  platform::os_status_t status =
      authorization::AuthorizationCreateFromExternalForm(*auth_data, &reference);
  if (status == platform::errAuthorizationSuccess && !caller_owns_session(reference)) {
    status = platform::errAuthorizationInvalidRef;
  }
  if (status == platform::errAuthorizationSuccess) status = copy_command_right(reference, command);

  std::optional<platform::os_status_error_t> error;
  if (status != platform::errAuthorizationSuccess) {
    error = platform::os_status_error_t{status};
    trace_error(trace, "external auth failed %s", error->description().c_str());
  }
  if (reference) {
    authorization::AuthorizationFree(reference, authorization::kAuthorizationFlagDefaults);
  }
  return error;
}

void check_global_settings_auth(trace_t& trace, const auth_data_t& auth_data, bool_reply_t reply) {
  std::move(reply)(!check_authorization(trace, auth_data, selector::check_global_settings_auth));
}

void resetAuthDB(trace_t& trace) {
  trace_info(trace, "Cleaning authorizationdb..");
  for (const std::string& name : helper_tool_common_t::authRightNames()) {
    if (!ExternalCommands::remove_authorization(name)) {
      trace_warning(trace, "can't delete %s", name.c_str());
    }
  }
}

}  // namespace request_authorization

std::optional<platform::os_status_error_t> helper_tool_t::check_authorization(
    const auth_data_t& auth_data, std::string_view command) {
  return request_authorization::check_authorization(_trace, auth_data, command);
}

void helper_tool_t::check_global_settings_auth(const auth_data_t& auth_data, bool_reply_t reply) {
  request_authorization::check_global_settings_auth(_trace, auth_data, std::move(reply));
}

void helper_tool_t::_resetAuthDB() {
  request_authorization::resetAuthDB(_trace);
}
