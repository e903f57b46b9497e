#include "install/request_admission.h"

#include "install/client_text.h"

namespace install {

bool admit_request(helper_tool_t& tool, const auth_data_t& auth_data, std::string_view command,
                   const char* authorization_failed_line, const std::string& vl_namespace,
                   std::initializer_list<std::string_view> texts, bool_reply_t& reply) {
  if (tool.check_authorization(auth_data, command)) {
    trace_error(tool.trace(), "%s", authorization_failed_line);
    std::move(reply)(false);
    return false;
  }
  if (!tool._validateVLNamespace(vl_namespace) || !client_text::fit_path_length(texts)) {
    trace_error(tool.trace(), "Invalid arguments");
    std::move(reply)(false);
    return false;
  }
  return true;
}

}  // namespace install
