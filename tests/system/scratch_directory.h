#pragma once

#include <sys/types.h>

#include <string>

// A private directory under $TMPDIR (or /tmp) for one test case, removed with its contents.
class scratch_directory_t {
 public:
  scratch_directory_t();
  scratch_directory_t(const scratch_directory_t&) = delete;
  scratch_directory_t& operator=(const scratch_directory_t&) = delete;
  ~scratch_directory_t();

  std::string path(const std::string& relative) const { return root_ + "/" + relative; }
  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

void write_text(const std::string& path, const std::string& text, mode_t mode = 0644);
std::string read_text(const std::string& path);
mode_t mode_of(const std::string& path);
