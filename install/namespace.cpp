#include <regex>

#include "service/helper_tool.h"

// The pattern alone also matches the empty namespace, which would turn "/etc/<namespace>" into
// "/etc" itself and have the global configuration step chmod and chown all of it: refused.
bool helper_tool_t::_validateVLNamespace(const std::string& vl_namespace) {
  static const std::regex pattern("^[a-zA-Z0-9_]*$");
  return !vl_namespace.empty() && std::regex_match(vl_namespace, pattern);
}
