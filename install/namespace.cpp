#include <algorithm>

#include "install/client_text.h"
#include "service/helper_tool.h"

namespace {

bool is_namespace_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

// A plain loop: a pattern engine recurses once per character and a long namespace would
// overflow the stack. The empty namespace would turn "/etc/<namespace>" into "/etc" itself and
// have the global configuration step chmod and chown all of it: refused.
bool helper_tool_t::_validateVLNamespace(const std::string& vl_namespace) {
  return !vl_namespace.empty() && client_text::fits_namespace_length(vl_namespace) &&
         std::ranges::all_of(vl_namespace, is_namespace_character);
}
