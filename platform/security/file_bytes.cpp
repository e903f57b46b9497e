#include "platform/security/file_bytes.h"

#include <fcntl.h>
#include <unistd.h>

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

}  // namespace platform
