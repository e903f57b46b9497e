#pragma once

#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <optional>

#include "platform/base/unique_fd.h"

// Older C libraries do not name these (Linux 6.5).
#ifndef SO_PASSPIDFD
#define SO_PASSPIDFD 76
#endif
#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif
#ifndef SCM_PIDFD
#define SCM_PIDFD 0x04
#endif

// Processes held by pidfds, which keep naming their process after its pid has been reused.
namespace platform {

// Through the system calls: this C library's <sys/pidfd.h> lacks C linkage for C++ callers.
inline int open_pidfd(pid_t pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0U));
}

// Signal 0 asks only whether the process still runs.
inline bool signal_pidfd(int pidfd, int signal) {
  return ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0U) == 0;
}

// The process at the other end of a connected Unix socket as the kernel recorded it at connect
// time, with a pidfd of it where the kernel offers SO_PEERPIDFD (empty on older kernels).
struct socket_peer_t {
  pid_t pid = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  unique_fd_t pidfd;
};

// Nothing when the socket has no peer credentials.
inline std::optional<socket_peer_t> socket_peer_of(int socket_fd) {
  ucred credentials{};
  socklen_t length = sizeof(credentials);
  if (::getsockopt(socket_fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
      length != sizeof(credentials) || credentials.pid <= 0) {
    return std::nullopt;
  }
  socket_peer_t peer{credentials.pid, credentials.uid, credentials.gid, unique_fd_t()};
  int pidfd = -1;
  length = sizeof(pidfd);
  if (::getsockopt(socket_fd, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) == 0 && pidfd >= 0) {
    peer.pidfd.reset(pidfd);
  }
  return peer;
}

}  // namespace platform
