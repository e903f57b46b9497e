#include "platform/xpc/peer.h"

#include <poll.h>
#include <sys/stat.h>
#include <sys/vfs.h>

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

bool pass_credentials(int socket_fd) {
  const int on = 1;
  return ::setsockopt(socket_fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof(on)) == 0 &&
         ::setsockopt(socket_fd, SOL_SOCKET, SO_PASSPIDFD, &on, sizeof(on)) == 0;
}

recorded_process_t::recorded_process_t(int recorded_pidfd) : pidfd_(recorded_pidfd) {
  struct stat recorded {};
  if (pidfd_ >= 0 && on_pidfs(pidfd_) && ::fstat(pidfd_, &recorded) == 0) {
    on_pidfs_ = true;
    device_ = recorded.st_dev;
    inode_ = recorded.st_ino;
  }
}

// On pidfs a process is one inode. Older kernels give every pidfd the same inode; there the
// message's pid (checked by the caller) is the recorded process's as long as that process has
// not exited, since its pid cannot be reused before.
bool recorded_process_t::sent(int received_pidfd) const {
  if (received_pidfd < 0 || pidfd_ < 0) return false;
  if (!on_pidfs_) return still_running(pidfd_);
  struct stat received {};
  return ::fstat(received_pidfd, &received) == 0 && received.st_dev == device_ &&
         received.st_ino == inode_;
}

}  // namespace platform
