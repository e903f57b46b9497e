#pragma once

#include <sys/types.h>

#include "platform/base/pidfd.h"

namespace platform {

// The process at the other end of an accepted connection, as the kernel recorded it at connect
// time: what the platform calls the connection's audit token.
using xpc_peer_t = socket_peer_t;

// Asks the kernel to attach the sender's credentials and a pidfd of the sender to every message
// read from the socket.
bool pass_credentials(int socket_fd);

// The process a connection recorded, for telling whether the pidfd that came with a message
// names it. A pid alone can have been taken over by another process; a pidfd cannot. What is
// learned of the recorded pidfd is learned once, so each message costs one fstat.
class recorded_process_t {
 public:
  // -1 when nothing was recorded: then no message names it.
  explicit recorded_process_t(int recorded_pidfd);

  bool sent(int received_pidfd) const;

 private:
  int pidfd_;
  bool on_pidfs_ = false;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace platform
