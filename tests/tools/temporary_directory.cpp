#include "tests/tools/temporary_directory.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

temporary_directory_t::temporary_directory_t() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/velmora-tools.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

temporary_directory_t::~temporary_directory_t() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}
