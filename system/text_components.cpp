#include "system/text_components.h"

#include <limits>

namespace {

// The code point at position i of valid UTF-8 text; i moves past it.
char32_t next_code_point(std::string_view text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  const int trailing = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
  char32_t code_point = lead & (0x3Fu >> trailing);
  for (int k = 0; k < trailing && i < text.size(); ++k) {
    code_point = (code_point << 6) | (static_cast<unsigned char>(text[i++]) & 0x3Fu);
  }
  return code_point;
}

bool is_newline(char32_t c) {
  return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool is_whitespace(char32_t c) {
  return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

template <typename separator_t>
std::vector<std::string> split(std::string_view text, separator_t is_separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t at = i;
    if (is_separator(next_code_point(text, i))) {
      pieces.emplace_back(text.substr(start, at - start));
      start = i;
    }
  }
  pieces.emplace_back(text.substr(start));
  return pieces;
}

// Length of the sequence that starts with this byte and the range its first trailing byte must
// fall in (this excludes overlong forms, surrogates and code points above U+10FFFF).
struct sequence_rule_t {
  int length;
  unsigned char second_low;
  unsigned char second_high;
};

std::optional<sequence_rule_t> rule_for(unsigned char lead) {
  if (lead < 0x80) return sequence_rule_t{1, 0, 0};
  if (lead >= 0xC2 && lead <= 0xDF) return sequence_rule_t{2, 0x80, 0xBF};
  if (lead == 0xE0) return sequence_rule_t{3, 0xA0, 0xBF};
  if (lead == 0xED) return sequence_rule_t{3, 0x80, 0x9F};
  if (lead >= 0xE1 && lead <= 0xEF) return sequence_rule_t{3, 0x80, 0xBF};
  if (lead == 0xF0) return sequence_rule_t{4, 0x90, 0xBF};
  if (lead >= 0xF1 && lead <= 0xF3) return sequence_rule_t{4, 0x80, 0xBF};
  if (lead == 0xF4) return sequence_rule_t{4, 0x80, 0x8F};
  return std::nullopt;
}

bool is_valid_utf8(const std::vector<std::uint8_t>& bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto rule = rule_for(bytes[i]);
    if (!rule || bytes.size() - i < static_cast<std::size_t>(rule->length)) return false;
    for (int k = 1; k < rule->length; ++k) {
      const std::uint8_t byte = bytes[i + k];
      const bool in_range = k == 1 ? byte >= rule->second_low && byte <= rule->second_high
                                   : byte >= 0x80 && byte <= 0xBF;
      if (!in_range) return false;
    }
    i += static_cast<std::size_t>(rule->length);
  }
  return true;
}

}  // namespace

std::optional<std::string> decode_utf8(const std::vector<std::uint8_t>& bytes) {
  if (!is_valid_utf8(bytes)) return std::nullopt;
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> components_separated_by_newlines(std::string_view text) {
  return split(text, is_newline);
}

std::vector<std::string> components_separated_by_whitespace(std::string_view text) {
  return split(text, is_whitespace);
}

std::int32_t int_value(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t next = i;
    const char32_t c = next_code_point(text, next);
    if (!is_whitespace(c) && !is_newline(c)) break;
    i = next;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

  constexpr std::int64_t high = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t low = std::numeric_limits<std::int32_t>::min();
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    // Past the 32-bit range the value only needs to stay beyond it; stop growing there.
    if (value <= high + 1) value = value * 10 + (text[i] - '0');
  }
  if (negative) value = -value;
  return static_cast<std::int32_t>(value > high ? high : value < low ? low : value);
}
