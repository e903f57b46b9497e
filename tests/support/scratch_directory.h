#pragma once

#include <string>

namespace test_support {

// A private directory under $TMPDIR (or /tmp) for one test, removed with everything in it.
// Removal does not follow links, so a test may plant links to system files inside.
class scratch_directory_t {
 public:
  scratch_directory_t();
  scratch_directory_t(const scratch_directory_t&) = delete;
  scratch_directory_t& operator=(const scratch_directory_t&) = delete;
  ~scratch_directory_t();

  const std::string& root() const { return root_; }
  // The directory itself, or a path below it.
  std::string path(const std::string& relative = "") const;
  // Creates the file (and its folders) below the directory; returns its full path.
  std::string add_file(const std::string& relative, const std::string& contents = "") const;

 private:
  std::string root_;
};

}  // namespace test_support
