#pragma once

#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace platform {

// Writes all of bytes to fd, through short writes and interruptions by signals.
inline bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace platform
