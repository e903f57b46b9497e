#include "tests/support/scratch_directory.h"

#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "tests/support/files.h"

namespace test_support {

scratch_directory_t::scratch_directory_t() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velmora-test.XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
  }
  root_ = pattern;
}

scratch_directory_t::~scratch_directory_t() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string scratch_directory_t::path(const std::string& relative) const {
  return relative.empty() ? root_ : root_ + "/" + relative;
}

std::string scratch_directory_t::add_file(const std::string& relative,
                                          const std::string& contents) const {
  const std::filesystem::path full = path(relative);
  std::filesystem::create_directories(full.parent_path());
  write_text(full.string(), contents);
  return full.string();
}

}  // namespace test_support
