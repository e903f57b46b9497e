#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/base/unique_fd.h"

namespace platform {

// A pipe that a task's standard output writes into. The task reads it while the child runs and
// keeps the bytes here, so a child with more output than the pipe holds never blocks on it.
class pipe_t {
 public:
  pipe_t();

  // False when no pipe could be made; a task given such a pipe cannot be launched.
  bool valid() const { return static_cast<bool>(read_end_); }

  // Everything the child wrote, read on to end of file.
  std::vector<std::uint8_t> readDataToEndOfFile();

 private:
  friend class task_t;

  // One read of what is waiting; false once end of file is reached.
  bool read_available();

  unique_fd_t read_end_;
  unique_fd_t write_end_;
  std::vector<std::uint8_t> data_;
  bool at_end_ = false;
};

// One child process, used for one run: posix_spawn, then waited for through a pidfd. The child is
// signalled only through that pidfd, so a signal can never reach another process that took over
// the pid after this child was reaped.
class task_t {
 public:
  // The status of a child that could not be started, as a shell reports it.
  static constexpr int not_started_status = 127;

  task_t() = default;
  task_t(std::string launch_path, std::vector<std::string> args);
  task_t(const task_t&) = delete;
  task_t& operator=(const task_t&) = delete;
  // A child still running is handed to a detached waiter, so it never stays a zombie.
  ~task_t();

  std::string launchPath;
  std::vector<std::string> arguments;

  void setStandardOutput(std::shared_ptr<pipe_t> pipe) { standard_output_ = std::move(pipe); }
  const std::shared_ptr<pipe_t>& standardOutput() const { return standard_output_; }

  // Starts the child with the service's environment, working directory and standard error.
  // False when it cannot be started; the task then reads as ended with not_started_status and
  // launchError says why (a missing tool, as against a tool that itself exited 127).
  bool launch();
  std::error_code launchError() const { return launch_error_; }

  // Makes waitUntilExit send SIGTERM once the deadline has passed, if the child still runs then.
  void terminateAtDeadline(std::chrono::steady_clock::time_point deadline) { deadline_ = deadline; }

  // Blocks until the child has ended and reaps it, reading its standard output meanwhile.
  void waitUntilExit();

  // SIGTERM to the child while it has not been reaped; true when the signal was sent.
  bool terminate();

  bool isRunning() const { return launched_ && !reaped_; }
  pid_t processIdentifier() const { return pid_; }

  // The exit code, or the signal number when a signal ended the child.
  int terminationStatus() const { return status_; }

 private:
  void reap();
  void wait_for_events();

  std::shared_ptr<pipe_t> standard_output_;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  unique_fd_t pidfd_;
  pid_t pid_ = 0;
  bool launched_ = false;
  bool reaped_ = false;
  int status_ = 0;
  std::error_code launch_error_;
};

}  // namespace platform
