#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Text handling of the platform's strings, for the output of the system's tools.

// The bytes as text when they are valid UTF-8, else nothing.
std::optional<std::string> decode_utf8(const std::vector<std::uint8_t>& bytes);

// Splits at every character of the platform's newline set (LF, VT, FF, CR, NEL, LS, PS);
// consecutive separators give empty pieces.
std::vector<std::string> components_separated_by_newlines(std::string_view text);

// Splits at every character of the platform's white-space set (tab and the space separators);
// consecutive separators give empty pieces, nothing is trimmed first.
std::vector<std::string> components_separated_by_whitespace(std::string_view text);

// Reads the text as the platform's intValue does: leading white space skipped, an optional sign,
// the digits up to the first other character; no digits read as 0; clamped to 32 bits.
std::int32_t int_value(std::string_view text);
