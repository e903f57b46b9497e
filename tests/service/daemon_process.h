#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/unique_fd.h"

// The helper daemon started the way each test needs it: with a given environment, as another
// user, or with a socket handed over by socket activation. Killed and reaped when it goes.
struct daemon_options_t {
  std::vector<std::string> environment{"PATH=/usr/bin:/bin:/usr/sbin:/sbin"};
  std::optional<uid_t> user;  // switches uid and gid to this id before the exec
  int activated_socket = -1;  // becomes descriptor 3, announced by LISTEN_PID/LISTEN_FDS
  int standard_error = -1;    // where its standard error goes; inherited when -1
};

class daemon_process_t {
 public:
  explicit daemon_process_t(const daemon_options_t& options);
  daemon_process_t(const daemon_process_t&) = delete;
  daemon_process_t& operator=(const daemon_process_t&) = delete;
  ~daemon_process_t();

  pid_t pid() const { return pid_; }
  // The raw wait status once it has ended; nothing while it still runs at the deadline.
  std::optional<int> wait_exit(std::chrono::milliseconds limit);

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// A listening socket at path, as a service manager would pass it.
platform::unique_fd_t listening_socket_at(const std::string& path);

// The messages of the trace lines that process pid wrote to the trace file, in order, each as
// "<level> <name> - <message>".
std::vector<std::string> trace_lines_of(const std::string& trace_path, pid_t pid);
bool has_line(const std::vector<std::string>& lines, const std::string& ending);
