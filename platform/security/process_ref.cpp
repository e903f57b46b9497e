#include "platform/security/process_ref.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "platform/base/pidfd.h"

namespace platform {

namespace {

// The pid a pidfd refers to, from the "Pid:" line of its fdinfo; -1 once the process is reaped.
std::optional<pid_t> pid_of_pidfd(int pidfd) {
  std::ifstream fdinfo("/proc/self/fdinfo/" + std::to_string(pidfd));
  std::string key;
  while (fdinfo >> key) {
    if (key == "Pid:") {
      long pid = 0;
      if (fdinfo >> pid) return static_cast<pid_t>(pid);
      return std::nullopt;
    }
    fdinfo.ignore(4096, '\n');
  }
  return std::nullopt;
}

}  // namespace

std::optional<process_ref_t> process_ref_t::of_socket_peer(int socket_fd) {
  std::optional<socket_peer_t> peer = socket_peer_of(socket_fd);
  if (!peer) return std::nullopt;
  if (!peer->pidfd) return of_pid(peer->pid);
  return process_ref_t(peer->pid, std::move(peer->pidfd));
}

std::optional<process_ref_t> process_ref_t::of_pidfd(unique_fd_t pidfd) {
  const std::optional<pid_t> pid = pid_of_pidfd(pidfd.get());
  if (!pid || *pid <= 0) return std::nullopt;
  return process_ref_t(*pid, std::move(pidfd));
}

std::optional<process_ref_t> process_ref_t::of_pid(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  unique_fd_t pidfd(open_pidfd(pid));
  if (!pidfd && errno != ENOSYS) return std::nullopt;
  return process_ref_t(pid, std::move(pidfd));
}

std::optional<process_ref_t> process_ref_t::of_pid_and_pidfd(pid_t pid, int pidfd) {
  if (pidfd < 0) return of_pid(pid);
  std::optional<process_ref_t> process = of_pidfd(unique_fd_t(::fcntl(pidfd, F_DUPFD_CLOEXEC, 0)));
  if (!process || process->pid() != pid) return std::nullopt;
  return process;
}

bool process_ref_t::is_running() const {
  if (pidfd_) return signal_pidfd(pidfd_.get(), 0);
  return ::kill(pid_, 0) == 0 || errno == EPERM;
}

std::optional<process_ref_t> process_ref_t::duplicate() const {
  if (!pidfd_) return process_ref_t(pid_, unique_fd_t());
  unique_fd_t copy(::fcntl(pidfd_.get(), F_DUPFD_CLOEXEC, 0));
  if (!copy) return std::nullopt;
  return process_ref_t(pid_, std::move(copy));
}

}  // namespace platform
