#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/security/requirement_error.h"

namespace platform {

enum class token_kind_t {
  word,    // a bare word: letters, digits, '.', '_', '-', or a path that starts with '/'
  string,  // a quoted text, escapes resolved
  hash,    // H"hex": the text holds the bytes
  open_paren,
  close_paren,
  open_bracket,
  close_bracket,
  bang,
  star,
  equal,
  less,
  less_equal,
  greater,
  greater_equal,
  end,
};

struct token_t {
  token_kind_t kind;
  std::string text;
  std::size_t offset = 0;  // where the token starts in the text
};

// The tokens of a requirement text, comments (/* ... */ and // to the end of the line) and blanks
// dropped, ending with one end token; nothing for an unterminated string or comment, a bad hash
// constant or a character the language lacks (where and why in *error).
std::optional<std::vector<token_t>> tokenize_requirement(std::string_view text,
                                                         requirement_error_t& error);
std::optional<std::vector<token_t>> tokenize_requirement(std::string_view text);

// How a token is named in an error message.
std::string describe_token(const token_t& token);

}  // namespace platform
