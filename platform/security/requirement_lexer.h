#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class token_kind_t {
  word,    // a bare word: letters, digits, '.', '_', '-'
  string,  // a quoted text, escapes resolved
  open_paren,
  close_paren,
  open_bracket,
  close_bracket,
  bang,
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
};

// The tokens of a requirement text, comments (/* ... */) and blanks dropped, ending with one
// end token; nothing for an unterminated string or comment or a character the language lacks.
std::optional<std::vector<token_t>> tokenize_requirement(std::string_view text);

}  // namespace platform
