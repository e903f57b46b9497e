#include "platform/xpc/activation.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <systemd/sd-daemon.h>

#include <cerrno>
#include <cstring>

#include "platform/xpc/peer.h"

namespace platform {
namespace {

void set_error(std::string* error, const std::string& what) {
  if (error != nullptr) *error = what + ": " + std::strerror(errno);
}

// sd_listen_fds checks LISTEN_PID against this process and marks the descriptor close-on-exec.
unique_fd_t activated_socket() {
  if (::sd_listen_fds(1) != 1) return {};
  const int fd = SD_LISTEN_FDS_START;
  if (::sd_is_socket_unix(fd, SOCK_STREAM, 1, nullptr, 0) <= 0) return {};
  return unique_fd_t(fd);
}

// Only a socket file is taken for stale; anything else at the path stays and makes bind fail.
void remove_stale_socket(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode)) ::unlink(path.c_str());
}

unique_fd_t bound_socket(const std::string& path, std::string* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(address.sun_path)) {
    errno = ENAMETOOLONG;
    set_error(error, "socket path " + path);
    return {};
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  unique_fd_t fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) {
    set_error(error, "socket");
    return {};
  }
  remove_stale_socket(path);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    set_error(error, "bind " + path);
    return {};
  }
  // Every local user may connect; the listener's delegate decides who is served.
  if (::chmod(path.c_str(), 0666) != 0 || ::listen(fd.get(), SOMAXCONN) != 0) {
    set_error(error, "listen " + path);
    return {};
  }
  return fd;
}

}  // namespace

unique_fd_t listening_socket(const std::string& socket_path, std::string* error) {
  unique_fd_t fd = activated_socket();
  if (!fd) fd = bound_socket(socket_path, error);
  // Accepted sockets inherit it, so credentials ride along from the first byte.
  if (fd && !pass_credentials(fd.get())) {
    set_error(error, "SO_PASSCRED");
    return {};
  }
  return fd;
}

}  // namespace platform
