#pragma once

#include <gmock/gmock.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace test_support {

// The columns of one trace line, without its line feed.
struct trace_line_t {
  std::string level;
  int year, month, day, hour, minute, second, millisecond;
  std::string component;
  std::string thread;
  unsigned long long pid;
  unsigned long long tid;
  std::string name;  // the writing handle's
  std::string message;

  friend void PrintTo(const trace_line_t& line, std::ostream* out) {
    *out << line.level << " \"" << line.message << '"';
  }
};

// Parses a line made with the trace line format, with every column at its usual width;
// nothing when the line does not have that shape.
std::optional<trace_line_t> parse_trace_line(const std::string& line);

// Every line of a trace file; a line of another shape fails the test.
std::vector<trace_line_t> read_trace_lines(const std::string& path);

// A line of that level and message, whoever wrote it and when.
::testing::Matcher<const trace_line_t&> is_line(const std::string& level,
                                                const std::string& message);

}  // namespace test_support
