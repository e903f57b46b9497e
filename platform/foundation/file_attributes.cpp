#include "platform/foundation/file_attributes.h"

#include <sys/stat.h>

namespace platform::file_attributes {

bool isSymbolicLinkAtPath(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

}  // namespace platform::file_attributes
