#include <regex.h>

#include <optional>
#include <utility>

#include "platform/foundation/file_manager.h"
#include "service/helper_tool.h"

namespace fm = platform::file_manager;

namespace {

// A compiled POSIX expression, freed with its owner.
class compiled_pattern_t {
 public:
  // Nothing when the pattern does not compile.
  static std::optional<compiled_pattern_t> compile(const std::string& pattern, int flags) {
    compiled_pattern_t compiled;
    if (regcomp(&compiled.regex_, pattern.c_str(), flags) != 0) return std::nullopt;
    compiled.compiled_ = true;
    return compiled;
  }

  compiled_pattern_t(compiled_pattern_t&& other) noexcept
      : regex_(other.regex_), compiled_(std::exchange(other.compiled_, false)) {}
  compiled_pattern_t& operator=(compiled_pattern_t&&) = delete;
  compiled_pattern_t(const compiled_pattern_t&) = delete;
  compiled_pattern_t& operator=(const compiled_pattern_t&) = delete;
  ~compiled_pattern_t() {
    if (compiled_) regfree(&regex_);
  }

  bool matches(const std::string& text) const {
    return regexec(&regex_, text.c_str(), 0, nullptr, 0) == 0;
  }

 private:
  compiled_pattern_t() = default;

  regex_t regex_{};
  bool compiled_ = false;
};

std::string replace_occurrences(std::string text, std::string_view target,
                                std::string_view replacement) {
  for (auto at = text.find(target); at != std::string::npos;
       at = text.find(target, at + replacement.size())) {
    text.replace(at, target.size(), replacement);
  }
  return text;
}

// "." is literal, "*" any run, "?" one character; every other character is passed on as it is.
std::string wildcard_expression(const std::string& wildcard) {
  auto expression = replace_occurrences(wildcard, ".", "\\.");
  expression = replace_occurrences(expression, "*", ".*");
  expression = replace_occurrences(expression, "?", ".");
  return "^" + expression + "$";
}

}  // namespace

std::vector<std::string> helper_tool_t::resolveFilesInDirectory(const std::string& dir,
                                                                const std::string& wildcard) {
  std::vector<std::string> paths;
  const auto pattern = compiled_pattern_t::compile(wildcard_expression(wildcard),
                                                   REG_EXTENDED | REG_ICASE | REG_NOSUB);
  if (!pattern) return paths;
  for (const auto& relative : fm::enumeratorAtPath(dir)) {
    if (pattern->matches(relative))
      paths.push_back(fm::stringByAppendingPathComponent(dir, relative));
  }
  return paths;
}
