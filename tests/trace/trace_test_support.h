#pragma once

#include <cstdarg>
#include <string>

#include "platform/base/unique_fd.h"

namespace trace_test {

// Sends everything written to one standard descriptor into a temporary file until finish().
class captured_output_t {
 public:
  explicit captured_output_t(int target);
  ~captured_output_t();
  captured_output_t(const captured_output_t&) = delete;
  captured_output_t& operator=(const captured_output_t&) = delete;

  std::string finish();

 private:
  int target_;
  platform::unique_fd_t saved_;
  platform::unique_fd_t capture_;
};

// Writes one line through the process-wide record, as the front-ends do but at any level.
void write_at_level(int level, const char* name, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace trace_test
