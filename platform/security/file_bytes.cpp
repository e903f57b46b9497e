#include "platform/security/file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/base/unique_fd.h"

namespace platform {

std::optional<std::string> read_file_bytes(int directory_fd, const char* path) {
  const unique_fd_t fd(::openat(directory_fd, path, O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  std::string bytes;
  char buffer[16384];
  for (;;) {
    const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return std::nullopt;
    if (count == 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(count));
  }
}

std::optional<std::string> read_bundle_file(const std::filesystem::path& path, std::size_t limit) {
  const unique_fd_t fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::size_t>(status.st_size) > limit) {
    return std::nullopt;
  }
  // The file may grow while it is read: one byte past the limit is enough to tell.
  std::string bytes;
  char buffer[16384];
  while (bytes.size() <= limit) {
    const std::size_t wanted = std::min(sizeof buffer, limit + 1 - bytes.size());
    const ssize_t count = ::read(fd.get(), buffer, wanted);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return std::nullopt;
    if (count == 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(count));
  }
  return std::nullopt;
}

}  // namespace platform
