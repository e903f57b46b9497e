#include "platform/xpc/peer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77  // Linux 6.5; older C libraries do not name it
#endif
#ifndef SO_PASSPIDFD
#define SO_PASSPIDFD 76
#endif

namespace platform {
namespace {

constexpr long pidfs_magic = 0x50494446;  // "PIDF": one inode per process since Linux 6.9

bool on_pidfs(int fd) {
  struct statfs filesystem {};
  return ::fstatfs(fd, &filesystem) == 0 && filesystem.f_type == pidfs_magic;
}

// A pidfd turns readable once its process has exited.
bool still_running(int pidfd) {
  pollfd entry{pidfd, POLLIN, 0};
  return ::poll(&entry, 1, 0) == 0;
}

}  // namespace

std::optional<xpc_peer_t> peer_of_socket(int socket_fd) {
  ucred credentials{};
  socklen_t length = sizeof(credentials);
  if (::getsockopt(socket_fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
      length != sizeof(credentials) || credentials.pid <= 0) {
    return std::nullopt;
  }
  xpc_peer_t peer;
  peer.pid = credentials.pid;
  peer.uid = credentials.uid;
  peer.gid = credentials.gid;
  int pidfd = -1;
  length = sizeof(pidfd);
  if (::getsockopt(socket_fd, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) == 0 && pidfd >= 0) {
    peer.pidfd.reset(pidfd);
  }
  return peer;
}

bool pass_credentials(int socket_fd) {
  const int on = 1;
  return ::setsockopt(socket_fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof(on)) == 0 &&
         ::setsockopt(socket_fd, SOL_SOCKET, SO_PASSPIDFD, &on, sizeof(on)) == 0;
}

// On pidfs a process is one inode. Older kernels give every pidfd the same inode; there the
// message's pid (checked by the caller) is the recorded process's as long as that process has
// not exited, since its pid cannot be reused before.
bool same_process(int received_pidfd, int recorded_pidfd) {
  if (received_pidfd < 0 || recorded_pidfd < 0) return false;
  if (!on_pidfs(received_pidfd)) return still_running(recorded_pidfd);
  struct stat received {};
  struct stat recorded {};
  return ::fstat(received_pidfd, &received) == 0 && ::fstat(recorded_pidfd, &recorded) == 0 &&
         received.st_dev == recorded.st_dev && received.st_ino == recorded.st_ino;
}

}  // namespace platform
