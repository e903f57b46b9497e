#include "tests/authorization/temporary_directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

temporary_directory_t::temporary_directory_t() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velmora-auth.XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  root_ = name.data();
}

temporary_directory_t::~temporary_directory_t() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string temporary_directory_t::path(const std::string& name) const {
  return name.empty() ? root_.string() : (root_ / name).string();
}

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
