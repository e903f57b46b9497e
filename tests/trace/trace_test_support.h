#pragma once

#include <cstdarg>
#include <string>

#include "platform/base/unique_fd.h"

namespace trace_test {

// A fresh directory under /tmp, removed with everything in it when the test ends.
class temp_dir_t {
 public:
  temp_dir_t();
  ~temp_dir_t();
  temp_dir_t(const temp_dir_t&) = delete;
  temp_dir_t& operator=(const temp_dir_t&) = delete;

  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

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

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& contents);

// Writes one line through the process-wide record, as the front-ends do but at any level.
void write_at_level(int level, const char* name, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace trace_test
