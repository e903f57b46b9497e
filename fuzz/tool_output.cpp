// The service's reading of tool output: UTF-8 decoding, the line and blank splits, and the
// integer reader that takes the dark-wake value out of sysctl's answer.
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "system/text_components.h"

namespace {

// The plain ASCII case: blanks, a sign and digits, which strtoll reads the same way.
bool is_plain_number(std::string_view text) {
  std::size_t i = text.find_first_not_of(" \t");
  if (i == std::string_view::npos) return false;
  if (text[i] == '+' || text[i] == '-') ++i;
  return i < text.size() && text.find_first_not_of("0123456789", i) == std::string_view::npos;
}

std::int32_t clamped(const std::string& text) {
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  constexpr long long high = std::numeric_limits<std::int32_t>::max();
  constexpr long long low = std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value > high ? high : value < low ? low : value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz_support::as_text(data, size);
  const std::int32_t value = int_value(text);
  if (is_plain_number(text) && value != clamped(std::string(text))) std::abort();

  const auto decoded = decode_utf8(std::vector<std::uint8_t>(data, data + size));
  if (!decoded) return 0;
  if (*decoded != text) std::abort();
  std::size_t total = 0;
  const auto lines = components_separated_by_newlines(*decoded);
  for (const auto& line : lines) {
    total += line.size();
    for (const auto& word : components_separated_by_whitespace(line))
      (void)int_value(word);
  }
  if (lines.empty() || total > decoded->size()) std::abort();
  return 0;
}
