// A reaped child's pid taken over by another process: the runner must never signal it.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#include "system/task_shell_extensions.h"

namespace {

// The kernel's argument block of clone3, up to the fields that choose the new pid.
struct clone_arguments_t {
  std::uint64_t flags;
  std::uint64_t pidfd;
  std::uint64_t child_tid;
  std::uint64_t parent_tid;
  std::uint64_t exit_signal;
  std::uint64_t stack;
  std::uint64_t stack_size;
  std::uint64_t tls;
  std::uint64_t set_tid;
  std::uint64_t set_tid_size;
};

// A child of this process that waits for signals under the given pid (root of the pid namespace
// may choose it). -1 when the pid is not free.
pid_t process_with_pid(pid_t pid) {
  clone_arguments_t arguments{};
  arguments.exit_signal = SIGCHLD;
  arguments.set_tid = reinterpret_cast<std::uintptr_t>(&pid);
  arguments.set_tid_size = 1;
  const long created = ::syscall(SYS_clone3, &arguments, sizeof arguments);
  if (created == 0) {
    for (;;)
      ::pause();
  }
  return static_cast<pid_t>(created);
}

bool has_ended(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

TEST(PidReuse, ProcessThatTookOverAReapedPidIsNeverSignalled) {
  platform::task_t task("/bin/sh", {"-c", "exit 0"});
  EXPECT_EQ(syncStdOutExecuteWithTimeout(task, 0.3), std::string());
  const pid_t reused = task.processIdentifier();

  const pid_t other = process_with_pid(reused);
  ASSERT_EQ(other, reused) << "clone3 with set_tid: " << std::strerror(errno);

  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // past the deadline
  EXPECT_FALSE(task.terminate());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(has_ended(other));

  ::kill(other, SIGKILL);
  ::waitpid(other, nullptr, 0);
}

}  // namespace
