#pragma once

#include <sys/types.h>

#include <string>

// A private directory under $TMPDIR (or /tmp) for one test, removed with everything in it.
class scratch_dir_t {
 public:
  scratch_dir_t();
  scratch_dir_t(const scratch_dir_t&) = delete;
  scratch_dir_t& operator=(const scratch_dir_t&) = delete;
  ~scratch_dir_t();

  std::string path(const std::string& relative = "") const;

 private:
  std::string root_;
};

void writeFile(const std::string& path, const std::string& contents, mode_t mode = 0644);
std::string readFile(const std::string& path);
void makeDir(const std::string& path, mode_t mode = 0755);
void makeLink(const std::string& target, const std::string& path);
std::string linkTarget(const std::string& path);
mode_t modeOf(const std::string& path);  // lstat's full st_mode
