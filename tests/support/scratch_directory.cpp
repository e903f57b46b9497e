#include "tests/support/scratch_directory.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace test_support {

scratch_directory_t::scratch_directory_t() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velmora-test.XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    return;
  }
  root_ = pattern;
}

scratch_directory_t::~scratch_directory_t() {
  std::error_code ignored;
  if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
}

std::string scratch_directory_t::path(const std::string& relative) const {
  return relative.empty() ? root_ : root_ + "/" + relative;
}

std::string scratch_directory_t::add_file(const std::string& relative,
                                          const std::string& contents) const {
  const std::filesystem::path full = path(relative);
  std::filesystem::create_directories(full.parent_path());
  std::ofstream(full) << contents;
  return full.string();
}

}  // namespace test_support
