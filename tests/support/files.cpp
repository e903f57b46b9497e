#include "tests/support/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

namespace test_support {

std::string read_text(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

bool write_text(const std::string& path, std::string_view text, mode_t mode,
                std::optional<uid_t> owner) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  // The owner first: a change of owner clears the set-user-ID bit the mode may ask for.
  return file.good() && (!owner || ::chown(path.c_str(), *owner, *owner) == 0) &&
         ::chmod(path.c_str(), mode) == 0;
}

std::optional<file_status_t> status_of(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return std::nullopt;
  return file_status_t{status.st_mode, status.st_uid, status.st_gid};
}

mode_t mode_of(const std::string& path) {
  const auto status = status_of(path);
  return status ? status->mode : 0;
}

}  // namespace test_support
