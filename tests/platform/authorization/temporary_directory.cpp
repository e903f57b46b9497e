#include "tests/platform/authorization/temporary_directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

void write_text_file(const std::string& path, const std::string& text, int mode) {
  std::ofstream(path, std::ios::trunc) << text;
  ::chmod(path.c_str(), static_cast<mode_t>(mode));
}

std::string read_text_file(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}
