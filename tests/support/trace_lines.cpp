#include "tests/support/trace_lines.h"

#include <fstream>
#include <regex>

namespace test_support {

std::optional<trace_line_t> parse_trace_line(const std::string& line) {
  // A padded column is exactly its width, or a longer text without blanks that overflows it.
  static const std::regex shape(
      R"(^(.{7}|\S{8,}) (\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{3}) (.{10}|\S{11,}) )"
      R"((.{6}|\S{7,}) ( {0,5}\d+) ( {0,5}\d+) {6}(.{32}|\S{33,}) - (.*)$)");
  std::smatch match;
  if (!std::regex_match(line, match, shape)) return std::nullopt;
  if (match[11].length() < 6 || match[12].length() < 6) return std::nullopt;
  const auto number = [&](int i) { return std::stoi(match[i].str()); };
  const auto trimmed = [&](int i) {
    const std::string column = match[i].str();
    const auto start = column.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : column.substr(start);
  };
  return trace_line_t{trimmed(1),
                      number(2),
                      number(3),
                      number(4),
                      number(5),
                      number(6),
                      number(7),
                      number(8),
                      trimmed(9),
                      trimmed(10),
                      std::stoull(match[11].str()),
                      std::stoull(match[12].str()),
                      trimmed(13),
                      match[14].str()};
}

std::vector<trace_line_t> read_trace_lines(const std::string& path) {
  std::vector<trace_line_t> lines;
  std::ifstream file(path);
  for (std::string text; std::getline(file, text);) {
    auto line = parse_trace_line(text);
    if (line) {
      lines.push_back(std::move(*line));
    } else {
      ADD_FAILURE() << path << " has a line of another shape: " << text;
    }
  }
  return lines;
}

::testing::Matcher<const trace_line_t&> is_line(const std::string& level,
                                                const std::string& message) {
  using ::testing::Field;
  return ::testing::AllOf(Field("level", &trace_line_t::level, level),
                          Field("message", &trace_line_t::message, message));
}

}  // namespace test_support
