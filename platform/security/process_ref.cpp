#include "platform/security/process_ref.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

namespace platform {

namespace {

// Called through syscall(2): the C library's wrappers are younger than some of its versions here.
int open_pidfd(pid_t pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0U));
}

bool signal_pidfd(int pidfd, int signal) {
  return ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0U) == 0;
}

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
  int pidfd = -1;
  socklen_t length = sizeof pidfd;
  if (::getsockopt(socket_fd, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) == 0 && pidfd >= 0) {
    return of_pidfd(unique_fd_t(pidfd));
  }
  ucred credentials{};
  length = sizeof credentials;
  if (::getsockopt(socket_fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
      credentials.pid <= 0) {
    return std::nullopt;
  }
  return of_pid(credentials.pid);
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
