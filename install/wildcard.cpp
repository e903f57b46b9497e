#include <algorithm>
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
// A run of "*" means what one does and is collapsed first: the engine would otherwise try every
// way of sharing a name among the run's ".*" before deciding, and give up. Not where a backslash
// could make a star part of an escape or a quotation.
std::string wildcard_expression(std::string wildcard) {
  if (wildcard.find('\\') == std::string::npos) {
    const auto stars = [](char a, char b) { return a == '*' && b == '*'; };
    wildcard.erase(std::unique(wildcard.begin(), wildcard.end(), stars), wildcard.end());
  }
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
  // An expression the engine gave up on cannot be trusted to have matched all it should: a sweep
  // deletes nothing rather than a part.
  bool gave_up = false;
  platform::directory_walk::walk(dir.c_str(), [&](std::string_view relative) {
    if (gave_up) return;
    const auto matches = expression->numberOfMatchesInString(relative);
    if (!matches)
      gave_up = true;
    else if (*matches != 0)
      paths.push_back(fm::stringByAppendingPathComponent(dir, std::string(relative)));
  });
  if (gave_up) paths.clear();
  return paths;
}
