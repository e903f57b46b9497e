#pragma once

#include <sys/types.h>

#include <optional>

#include "platform/base/unique_fd.h"

namespace platform {

// One running process, held by a pidfd so that a pid reused after the process ended is never
// mistaken for it. Kernels without pidfds leave only the pid, and the race that comes with it.
class process_ref_t {
 public:
  process_ref_t(pid_t pid, unique_fd_t pidfd) : pid_(pid), pidfd_(std::move(pidfd)) {}

  // The process at the other end of a connected Unix socket: SO_PEERPIDFD where the kernel has
  // it, else SO_PEERCRED followed by pidfd_open.
  static std::optional<process_ref_t> of_socket_peer(int socket_fd);
  // A pidfd received from the kernel (for instance as SCM_PIDFD); its pid is read from fdinfo.
  static std::optional<process_ref_t> of_pidfd(unique_fd_t pidfd);
  static std::optional<process_ref_t> of_pid(pid_t pid);
  // The process a connection recorded: its own copy of pidfd when there is one (it must name
  // that pid), else a pidfd opened for the pid.
  static std::optional<process_ref_t> of_pid_and_pidfd(pid_t pid, int pidfd);

  pid_t pid() const { return pid_; }
  int pidfd() const { return pidfd_.get(); }

  // True while the process that this reference was made for has not been reaped.
  bool is_running() const;
  // A second reference to the same process with its own descriptor.
  std::optional<process_ref_t> duplicate() const;

 private:
  pid_t pid_;
  unique_fd_t pidfd_;
};

// The client of a connection as the code-signing checks see it.
using peer_t = process_ref_t;

}  // namespace platform
