#pragma once

#include <string>
#include <string_view>

#include "service/helper_tool.h"

namespace install {

// The install family's common start: the caller must hold the right of the command, then the
// namespace must be valid. A refusal writes its error line and replies NO; the caller stops.
bool admit_request(helper_tool_t& tool, const auth_data_t& auth_data, std::string_view command,
                   const char* authorization_failed_line, const std::string& vl_namespace,
                   const bool_reply_t& reply);

}  // namespace install
