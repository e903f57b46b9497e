#include "platform/foundation/regular_expression.h"

#include <unicode/uregex.h>
#include <unicode/ustring.h>

namespace platform {
namespace {

constexpr UChar32 replacement_character = 0xFFFD;
// In the engine's units of work (a fraction of a millisecond each here): far beyond what a
// wildcard over a path needs.
constexpr int32_t match_time_limit = 1000;

// UTF-8 into UTF-16 held by into (grown, never shrunk); the number of units written.
int32_t to_utf16(std::string_view text, std::u16string& into, UErrorCode& status) {
  // A UTF-8 text never needs more UTF-16 units than it has bytes.
  if (into.size() < text.size()) into.resize(text.size());
  int32_t length = 0;
  u_strFromUTF8WithSub(into.data(), static_cast<int32_t>(into.size()), &length, text.data(),
                       static_cast<int32_t>(text.size()), replacement_character, nullptr, &status);
  return length;
}

}  // namespace

void regular_expression_t::closer_t::operator()(URegularExpression* expression) const {
  uregex_close(expression);
}

std::optional<regular_expression_t> regular_expression_t::regularExpressionWithPattern(
    std::string_view pattern, options_t options) {
  const std::uint32_t flags = options == options_t::caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0;
  UErrorCode status = U_ZERO_ERROR;
  std::u16string units;
  const int32_t length = to_utf16(pattern, units, status);
  UParseError where{};
  URegularExpression* expression = uregex_open(units.data(), length, flags, &where, &status);
  uregex_setTimeLimit(expression, match_time_limit, &status);
  if (U_FAILURE(status)) {
    uregex_close(expression);
    return std::nullopt;
  }
  return regular_expression_t(expression);
}

std::optional<std::size_t> regular_expression_t::numberOfMatchesInString(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length = to_utf16(text, text_, status);
  uregex_setText(expression_.get(), text_.data(), length, &status);
  std::size_t count = 0;
  while (U_SUCCESS(status) && uregex_findNext(expression_.get(), &status))
    ++count;
  if (U_FAILURE(status)) return std::nullopt;
  return count;
}

}  // namespace platform
