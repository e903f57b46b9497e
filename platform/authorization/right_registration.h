#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/authorization/rights_database.h"
#include "platform/authorization/session_token.h"
#include "platform/base/os_status.h"

// Adding a right the database lacks takes no administrator, but only root writes the database.
// A process that cannot write it hands the addition to the authority through its session: the
// session's file carries one "name<TAB>rule<TAB>description" line per right, and the authority
// adds those the database still lacks whenever it makes a reference from that session.
namespace platform::authorization {

struct right_addition_t {
  std::string name;
  right_definition_t definition;
};

// Whether the rule is one the database predefines; a right is added only with such a rule.
bool is_predefined_rule(const std::string& rule);

// errSecParam for a name or text the line format cannot carry; errAuthorizationInvalidRef when
// the session file cannot be written.
os_status_t queue_right_addition(const session_token_t& token, const right_addition_t& addition);

// The additions a session's file carries; nothing unless the file is a regular file of its
// user's, and only well-formed lines with a predefined rule.
std::vector<right_addition_t> queued_right_additions(const session_token_t& token, uid_t user);

// Parses a session file's text (the part above without the file checks).
std::vector<right_addition_t> parse_right_additions(const std::string& text);

}  // namespace platform::authorization
