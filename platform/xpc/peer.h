#pragma once

#include <sys/types.h>

#include <optional>

#include "platform/base/unique_fd.h"

namespace platform {

// The process at the other end of an accepted connection, as the kernel recorded it at connect
// time: what the platform calls the connection's audit token.
struct xpc_peer_t {
  pid_t pid = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  // A pidfd for the same process where the kernel offers SO_PEERPIDFD: it keeps naming that
  // process even after its pid is reused. Empty on older kernels.
  unique_fd_t pidfd;
};

// Nothing when the socket has no peer credentials.
std::optional<xpc_peer_t> peer_of_socket(int socket_fd);

// Asks the kernel to attach the sender's credentials and a pidfd of the sender to every message
// read from the socket.
bool pass_credentials(int socket_fd);

// Whether a pidfd that came with a message names the process of the recorded pidfd. A pid alone
// can have been taken over by another process; a pidfd cannot.
bool same_process(int received_pidfd, int recorded_pidfd);

}  // namespace platform
