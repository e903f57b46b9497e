#pragma once

#include <string_view>

#include "platform/security/requirement_error.h"
#include "platform/security/requirement_expression.h"

namespace platform {

// Compiles a text of the code requirement language; nothing when it does not compile (where and
// why in *error). A certificate named by its file's path is read and hashed here.
expression_ptr_t parse_requirement(std::string_view text, requirement_error_t& error);

}  // namespace platform
