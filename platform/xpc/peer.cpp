#include "platform/xpc/peer.h"

#include <sys/socket.h>

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77  // Linux 6.5; older C libraries do not name it
#endif

namespace platform {

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
  return ::setsockopt(socket_fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof(on)) == 0;
}

}  // namespace platform
