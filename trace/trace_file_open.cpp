#include "trace/trace_file_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

int trace_file_open(const char* path, int flags, mode_t mode) {
  const int fd = ::open(path, flags | O_NOFOLLOW, mode);
  if (fd < 0) return -1;
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid()) {
    return fd;
  }
  ::close(fd);
  errno = EPERM;
  return -1;
}
