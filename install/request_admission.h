#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "service/helper_tool.h"

namespace install {

// The install family's common start: the caller must hold the right of the command, then the
// namespace must be valid and the request's other texts no longer than a path. A refusal writes
// its error line and replies NO; the caller stops.
bool admit_request(helper_tool_t& tool, const auth_data_t& auth_data, std::string_view command,
                   const char* authorization_failed_line, const std::string& vl_namespace,
                   std::initializer_list<std::string_view> texts, bool_reply_t& reply);

}  // namespace install
