#pragma once

#include <optional>
#include <string_view>

#include "platform/base/os_status.h"
#include "service/helper_tool.h"
#include "trace/trace.h"

// The bodies of the service object's authorization operations, writing through the service's
// trace handle; helper_tool_t's methods of the same names call them.
namespace request_authorization {

// Nothing when the authorization data's session holds the command's right.
std::optional<platform::os_status_error_t> check_authorization(trace_t& trace,
                                                               const auth_data_t& auth_data,
                                                               std::string_view command);
void check_global_settings_auth(trace_t& trace, const auth_data_t& auth_data, bool_reply_t reply);
void resetAuthDB(trace_t& trace);

}  // namespace request_authorization
