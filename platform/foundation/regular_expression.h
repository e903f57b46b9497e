#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct URegularExpression;

namespace platform {

// The platform's regular expression class, on the engine it is built on (ICU): "." is one
// character, not one byte, and does not match line terminators; "$" also matches before a line
// terminator that ends the text; case-insensitive matching folds case as Unicode does.
class regular_expression_t {
 public:
  enum class options_t { none, caseInsensitive };

  // Nothing when the pattern does not compile.
  static std::optional<regular_expression_t> regularExpressionWithPattern(std::string_view pattern,
                                                                          options_t options);

  // The number of non-overlapping matches in the whole UTF-8 text; bytes that are not UTF-8
  // count as one replacement character each. Nothing when the engine gives up: an expression
  // that backtracks without end is stopped early instead of holding its caller.
  // Not for use by two threads at once.
  std::optional<std::size_t> numberOfMatchesInString(std::string_view text);

 private:
  struct closer_t {
    void operator()(URegularExpression* expression) const;
  };

  explicit regular_expression_t(URegularExpression* expression) : expression_(expression) {}

  std::unique_ptr<URegularExpression, closer_t> expression_;
  // The text in UTF-16, as the engine reads it; kept to spare an allocation per text.
  std::u16string text_;
};

}  // namespace platform
