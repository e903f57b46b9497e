#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

// RAII over the attributes and file actions of posix_spawn, the only way the service starts
// processes (a fork of the daemon would copy all of it).
namespace platform {

class spawn_attributes_t {
 public:
  enum class session_t { inherited, new_session };

  // The child starts with no blocked signals and default actions, whatever the service's
  // threads have set (an ignored SIGPIPE would otherwise survive the exec).
  explicit spawn_attributes_t(session_t session = session_t::inherited) {
    posix_spawnattr_init(&attributes_);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setsigdefault(&attributes_, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (session == session_t::new_session) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attributes_, flags);
  }
  spawn_attributes_t(const spawn_attributes_t&) = delete;
  spawn_attributes_t& operator=(const spawn_attributes_t&) = delete;
  ~spawn_attributes_t() { posix_spawnattr_destroy(&attributes_); }

  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

class spawn_file_actions_t {
 public:
  spawn_file_actions_t() { posix_spawn_file_actions_init(&actions_); }
  spawn_file_actions_t(const spawn_file_actions_t&) = delete;
  spawn_file_actions_t& operator=(const spawn_file_actions_t&) = delete;
  ~spawn_file_actions_t() { posix_spawn_file_actions_destroy(&actions_); }

  bool redirect_standard_output(int fd) {
    return posix_spawn_file_actions_adddup2(&actions_, fd, STDOUT_FILENO) == 0;
  }

  // The child gets fd as descriptor number, and no descriptor above it.
  bool pass_descriptor(int fd, int number) {
    return posix_spawn_file_actions_adddup2(&actions_, fd, number) == 0 &&
           posix_spawn_file_actions_addclosefrom_np(&actions_, number + 1) == 0;
  }

  // Nothing of ours leaks into a child that outlives us: no standard streams, no descriptor,
  // and not our working directory.
  void detach_from_parent() {
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
      posix_spawn_file_actions_addopen(&actions_, fd, "/dev/null", O_RDWR, 0);
    }
    posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
    posix_spawn_file_actions_addchdir_np(&actions_, "/");
  }

  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

}  // namespace platform
