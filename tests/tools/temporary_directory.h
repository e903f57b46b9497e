#pragma once

#include <string>

// A fresh directory under $TMPDIR, removed with everything in it when the object goes.
class temporary_directory_t {
 public:
  temporary_directory_t();
  ~temporary_directory_t();
  temporary_directory_t(const temporary_directory_t&) = delete;
  temporary_directory_t& operator=(const temporary_directory_t&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};
