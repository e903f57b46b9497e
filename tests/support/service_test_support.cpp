#include "tests/support/service_test_support.h"

#include <filesystem>

#include "trace/trace.h"

namespace service_test {

trace_capture_t::trace_capture_t(std::string path) : path_(std::move(path)) {
  std::filesystem::remove(path_);
  trace_use_path(string_t(path_));
}

std::vector<test_support::trace_line_t> trace_capture_t::lines() const {
  return test_support::read_trace_lines(path_);
}

}  // namespace service_test
