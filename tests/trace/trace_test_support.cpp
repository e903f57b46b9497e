#include "tests/trace/trace_test_support.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

#include "trace/trace.h"

namespace trace_test {

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

void write_at_level(int level, const char* name, const char* format, ...) {
  va_list args;
  va_start(args, format);
  trace_write(trace_record(), level, name, format, args);
  va_end(args);
}

}  // namespace trace_test
