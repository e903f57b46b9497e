#pragma once

#include <string>
#include <string_view>

// The spelling of constants in requirement texts.
namespace platform::requirement_text {

// The words of the language; a constant spelled like one must be quoted.
bool is_keyword(std::string_view word);

// The constant as the canonical text writes it: bare when it is a plain word of letters, digits
// and '_' that is no keyword, quoted (with '"' and '\' escaped) otherwise.
std::string constant(std::string_view value);
// Always quoted.
std::string quoted(std::string_view value);
// H"..." in lower-case hexadecimal.
std::string hash_constant(std::string_view bytes);

}  // namespace platform::requirement_text
