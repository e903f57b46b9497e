#include "tests/trace/trace_test_support.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "trace/trace.h"

namespace trace_test {

temp_dir_t::temp_dir_t() {
  char pattern[] = "/tmp/velmora-trace-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

temp_dir_t::~temp_dir_t() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

captured_output_t::captured_output_t(int target)
    : target_(target), saved_(::dup(target)), capture_(::memfd_create("captured", MFD_CLOEXEC)) {
  std::fflush(nullptr);
  ::dup2(capture_.get(), target_);
}

captured_output_t::~captured_output_t() {
  if (saved_) finish();
}

std::string captured_output_t::finish() {
  std::fflush(nullptr);
  ::dup2(saved_.get(), target_);
  saved_.reset();
  std::string text;
  char chunk[4096];
  ssize_t got;
  ::lseek(capture_.get(), 0, SEEK_SET);
  while ((got = ::read(capture_.get(), chunk, sizeof chunk)) > 0) {
    text.append(chunk, static_cast<std::size_t>(got));
  }
  return text;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

void write_file(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

void write_at_level(int level, const char* name, const char* format, ...) {
  va_list args;
  va_start(args, format);
  trace_write(trace_record(), level, name, format, args);
  va_end(args);
}

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
    return column.substr(column.find_first_not_of(' ') == std::string::npos
                             ? column.size()
                             : column.find_first_not_of(' '));
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

}  // namespace trace_test
