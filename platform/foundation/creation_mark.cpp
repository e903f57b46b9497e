#include "platform/foundation/creation_mark.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/base/unique_fd.h"

namespace platform::creation_mark {
namespace {

constexpr const char* mark_name = "trusted.com.corvantix.velmora.created";

bool hasMark(int fd) {
  return ::fgetxattr(fd, mark_name, nullptr, 0) >= 0;
}

bool setMark(int fd) {
  return ::fsetxattr(fd, mark_name, "", 0, XATTR_CREATE) == 0;
}

// O_PATH would not let us read extended attributes, so the entry is opened for reading:
// without following a link, and without blocking or taking a terminal, whatever it turns out
// to be.
found_t entryAt(const std::string& path, mode_t kind) {
  struct stat seen {};
  // Nothing that can be seen (a name too long, a missing folder): creating it will fail, never
  // overwrite.
  if (::lstat(path.c_str(), &seen) != 0) return found_t::absent;
  if ((seen.st_mode & S_IFMT) != kind) return found_t::foreign;
  const int directory_flag = kind == S_IFDIR ? O_DIRECTORY : 0;
  const unique_fd_t fd(::open(
      path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | directory_flag));
  struct stat opened {};
  if (!fd || ::fstat(fd.get(), &opened) != 0 || opened.st_ino != seen.st_ino ||
      opened.st_dev != seen.st_dev) {
    return found_t::foreign;
  }
  return hasMark(fd.get()) ? found_t::marked : found_t::foreign;
}

}  // namespace

found_t fileAt(const std::string& path) {
  return entryAt(path, S_IFREG);
}

found_t directoryAt(const std::string& path) {
  return entryAt(path, S_IFDIR);
}

bool createMarkedFile(const std::string& path, mode_t mode) {
  const unique_fd_t fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
  if (!fd) return false;
  if (setMark(fd.get())) return true;
  ::unlink(path.c_str());
  return false;
}

bool createMarkedDirectory(const std::string& path, mode_t mode) {
  if (::mkdir(path.c_str(), mode) != 0) return false;
  const unique_fd_t fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd && setMark(fd.get())) return true;
  ::rmdir(path.c_str());
  return false;
}

}  // namespace platform::creation_mark
