/* Preloaded into the daemon by the idle tests: while /var/run/slow-peer-lookup exists, looking up
   the peer of a socket takes 3 s, which holds an accepted client between the listening socket's
   queue and the decision about it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sys/socket.h>
#include <unistd.h>

typedef int (*getsockopt_t)(int, int, int, void*, socklen_t*);

int getsockopt(int fd, int level, int name, void* value, socklen_t* length) {
  static getsockopt_t next = NULL;
  if (next == NULL) next = (getsockopt_t)dlsym(RTLD_NEXT, "getsockopt");
  if (level == SOL_SOCKET && name == SO_PEERCRED && access("/var/run/slow-peer-lookup", F_OK) == 0)
    sleep(3);
  return next(fd, level, name, value, length);
}
