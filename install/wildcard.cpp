#include <string_view>

#include "platform/foundation/directory_walk.h"
#include "platform/foundation/file_manager.h"
#include "platform/foundation/regular_expression.h"
#include "service/helper_tool.h"

namespace fm = platform::file_manager;
using platform::regular_expression_t;

namespace {

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
  auto expression = regular_expression_t::regularExpressionWithPattern(
      wildcard_expression(wildcard), regular_expression_t::options_t::caseInsensitive);
  if (!expression) return paths;
  platform::directory_walk::walk(dir.c_str(), [&](std::string_view relative) {
    if (expression->numberOfMatchesInString(relative) != 0)
      paths.push_back(fm::stringByAppendingPathComponent(dir, std::string(relative)));
  });
  return paths;
}
