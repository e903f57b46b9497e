#include "platform/foundation/task.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <thread>

#include "platform/base/pidfd.h"
#include "platform/base/spawn.h"

namespace platform {
namespace {

// The status the platform reports: the exit code, or the number of the signal that ended it.
int status_of(const siginfo_t& info) {
  return info.si_status;
}

bool wait_for_exit(int pidfd, siginfo_t& info) {
  while (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &info, WEXITED) < 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

void reap_detached(const unique_fd_t& pidfd) {
  siginfo_t info{};
  wait_for_exit(pidfd.get(), info);
}

timespec to_timespec(std::chrono::steady_clock::duration duration) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
  const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(duration - seconds);
  return timespec{static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())};
}

}  // namespace

pipe_t::pipe_t() {
  // Close-on-exec, so children that other threads start at the same time do not hold the
  // writing end open and delay the end of file.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) == 0) {
    read_end_.reset(fds[0]);
    write_end_.reset(fds[1]);
  }
}

bool pipe_t::read_available() {
  std::uint8_t buffer[65536];
  const ssize_t count = ::read(read_end_.get(), buffer, sizeof buffer);
  if (count > 0) {
    data_.insert(data_.end(), buffer, buffer + count);
    return true;
  }
  if (count < 0 && errno == EINTR) return true;
  at_end_ = true;
  return false;
}

std::vector<std::uint8_t> pipe_t::readDataToEndOfFile() {
  write_end_.reset();
  while (valid() && !at_end_ && read_available()) {
  }
  return std::move(data_);
}

task_t::task_t(std::string launch_path, std::vector<std::string> args)
    : launchPath(std::move(launch_path)), arguments(std::move(args)) {}

task_t::~task_t() {
  if (!isRunning()) return;
  // Launched and not waited for: the child goes on, and a detached waiter reaps it when it ends.
  std::thread([pidfd = std::move(pidfd_)] { reap_detached(pidfd); }).detach();
}

bool task_t::launch() {
  if (launched_ || reaped_) return false;  // a task is used for one run
  status_ = not_started_status;
  reaped_ = true;  // until a child exists, the task reads as ended

  spawn_file_actions_t actions;
  if (standard_output_) {
    if (!standard_output_->valid() ||
        !actions.redirect_standard_output(standard_output_->write_end_.get())) {
      launch_error_ = std::make_error_code(std::errc::bad_file_descriptor);
      return false;
    }
  }
  std::vector<char*> argv;
  argv.push_back(launchPath.data());
  for (auto& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);

  spawn_attributes_t attributes;
  pid_t pid = 0;
  if (const int error = posix_spawn(&pid, launchPath.c_str(), actions.get(), attributes.get(),
                                    argv.data(), environ);
      error != 0) {
    launch_error_ = std::error_code(error, std::generic_category());
    return false;
  }
  if (standard_output_) standard_output_->write_end_.reset();

  // Nothing else in the service waits for children, so until this task reaps it the pid still
  // names this child and the pidfd cannot refer to another process.
  unique_fd_t pidfd(open_pidfd(pid));
  if (!pidfd) {
    launch_error_ = std::error_code(errno, std::generic_category());
    // Without a pidfd the child cannot be signalled safely later: stop it now while it is ours.
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
  }
  pidfd_ = std::move(pidfd);
  pid_ = pid;
  launched_ = true;
  reaped_ = false;
  status_ = 0;
  return true;
}

bool task_t::terminate() {
  if (!isRunning()) return false;
  return signal_pidfd(pidfd_.get(), SIGTERM);
}

void task_t::waitUntilExit() {
  while (isRunning())
    wait_for_events();
}

void task_t::wait_for_events() {
  pollfd fds[2] = {{pidfd_.get(), POLLIN, 0}, {-1, POLLIN, 0}};
  nfds_t count = 1;
  pipe_t* output = standard_output_.get();
  if (output != nullptr && output->valid() && !output->at_end_) {
    fds[count++].fd = output->read_end_.get();
  }

  timespec timeout{};
  const timespec* wait_at_most = nullptr;
  if (deadline_) {
    const auto left = *deadline_ - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
      deadline_.reset();
      terminate();
      return;
    }
    timeout = to_timespec(left);
    wait_at_most = &timeout;
  }

  if (ppoll(fds, count, wait_at_most, nullptr) < 0) {
    if (errno != EINTR) {
      // Out of kernel memory for the poll: try again shortly rather than spin.
      const timespec pause{0, 10'000'000};
      nanosleep(&pause, nullptr);
    }
    return;
  }
  if (count > 1 && fds[1].revents != 0) output->read_available();
  if (fds[0].revents != 0) reap();
}

void task_t::reap() {
  siginfo_t info{};
  status_ = wait_for_exit(pidfd_.get(), info) ? status_of(info) : not_started_status;
  reaped_ = true;
}

}  // namespace platform
