#include "tests/system/scratch_directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

void write_text(const std::string& path, const std::string& text, mode_t mode) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

std::string read_text(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

mode_t mode_of(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}
