#include "tests/trace/trace_test_support.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
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

}  // namespace trace_test
