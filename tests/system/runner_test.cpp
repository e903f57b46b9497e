#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "system/task_shell_extensions.h"
#include "tests/support/files.h"
#include "tests/support/scratch_directory.h"

namespace {

using std::chrono::steady_clock;
using test_support::scratch_directory_t;
using test_support::write_text;

platform::task_t shell(const std::string& command) {
  return platform::task_t("/bin/sh", {"-c", command});
}

double seconds_since(steady_clock::time_point start) {
  return std::chrono::duration<double>(steady_clock::now() - start).count();
}

// True once no process (not even a zombie) has the pid any more.
bool vanishes_within(pid_t pid, std::chrono::seconds limit) {
  const auto until = steady_clock::now() + limit;
  while (steady_clock::now() < until) {
    if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(RunnerStatus, OutputAndStatusOfAFailingChild) {
  const std::string command = "printf 'partial text'; exit 1";
  auto first = shell(command);
  EXPECT_EQ(syncStdOutExecute(first), std::nullopt);

  auto second = shell(command);
  EXPECT_EQ(syncStdOutExecuteWithTimeout(second, 30.0), "partial text");
  EXPECT_EQ(second.terminationStatus(), 1);

  EXPECT_EQ(syncExec("/bin/sh", {"-c", command}), 1);
}

TEST(RunnerStatus, SuccessfulChildGivesItsOutput) {
  auto task = platform::task_t("/bin/echo", {"one", "two words"});
  EXPECT_EQ(syncStdOutExecute(task), "one two words\n");
  EXPECT_EQ(syncExec("/bin/true", {}), 0);
}

TEST(RunnerStatus, NoOutputIsAnEmptyStringNotNothing) {
  auto plain = platform::task_t("/bin/true", {});
  EXPECT_EQ(syncStdOutExecute(plain), std::string());
  auto timed = platform::task_t("/bin/true", {});
  EXPECT_EQ(syncStdOutExecuteWithTimeout(timed, 30.0), std::string());
}

TEST(RunnerStatus, OutputThatIsNotUtf8IsNothing) {
  auto plain = shell("printf 'ok\\377'");
  EXPECT_EQ(syncStdOutExecute(plain), std::nullopt);
  auto timed = shell("printf 'ok\\300\\200'");
  EXPECT_EQ(syncStdOutExecuteWithTimeout(timed, 30.0), std::nullopt);
}

TEST(RunnerStatus, SignalEndingTheChildGivesItsNumber) {
  EXPECT_EQ(syncExec("/bin/sh", {"-c", "kill -KILL $$"}), SIGKILL);
  EXPECT_EQ(syncExec("/bin/sh", {"-c", "exit 200"}), 200);
}

TEST(RunnerStart, ChildThatCannotBeStartedGives127) {
  scratch_directory_t scratch;
  const std::string not_executable = scratch.path("tool");
  write_text(not_executable, "#!/bin/sh\nexit 0\n", 0644);

  for (const std::string& path : {std::string("/nonexistent/tool"), not_executable}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(syncExec(path, {"argument"}), 127);
    auto plain = platform::task_t(path, {});
    EXPECT_EQ(syncStdOutExecute(plain), std::nullopt);
    auto timed = platform::task_t(path, {});
    EXPECT_EQ(syncStdOutExecuteWithTimeout(timed, 0.0), std::string());
    EXPECT_EQ(timed.terminationStatus(), 127);
    EXPECT_FALSE(timed.terminate());
    auto unstarted = platform::task_t(path, {});
    EXPECT_FALSE(unstarted.launch());
    EXPECT_TRUE(unstarted.launchError());
  }
  auto missing = platform::task_t("/nonexistent/tool", {});
  missing.launch();
  EXPECT_EQ(missing.launchError(), std::errc::no_such_file_or_directory);
  // A tool that itself exits 127 was started: no launch error.
  auto exits_127 = platform::task_t("/bin/sh", {"-c", "exit 127"});
  ASSERT_TRUE(exits_127.launch());
  exits_127.waitUntilExit();
  EXPECT_EQ(exits_127.terminationStatus(), 127);
  EXPECT_FALSE(exits_127.launchError());
}

TEST(RunnerTimeout, ChildThatNeverEndsIsStoppedAtTheDeadline) {
  auto task = shell("echo started; exec sleep 60");
  const auto start = steady_clock::now();
  EXPECT_EQ(syncStdOutExecuteWithTimeout(task, 0.3), "started\n");
  const double elapsed = seconds_since(start);
  EXPECT_GE(elapsed, 0.3);
  EXPECT_LT(elapsed, 30.0);  // not the sleep's own end
  EXPECT_EQ(task.terminationStatus(), SIGTERM);
}

TEST(RunnerTimeout, ZeroTimeoutTerminatesRightAfterLaunch) {
  auto task = platform::task_t("/bin/sleep", {"60"});
  const auto start = steady_clock::now();
  EXPECT_EQ(syncStdOutExecuteWithTimeout(task, 0.0), std::string());
  EXPECT_LT(seconds_since(start), 30.0);
  EXPECT_EQ(task.terminationStatus(), SIGTERM);

  // Too far away to be a deadline: the child ends by itself.
  auto huge = shell("echo done");
  EXPECT_EQ(syncStdOutExecuteWithTimeout(huge, 1e300), "done\n");
}

TEST(RunnerTimeout, FinishedChildIsNeverSignalledAfterwards) {
  auto task = shell("exit 3");
  const auto start = steady_clock::now();
  EXPECT_EQ(syncStdOutExecuteWithTimeout(task, 0.5), std::string());
  EXPECT_LT(seconds_since(start), 0.5);  // returned before the deadline came
  EXPECT_EQ(task.terminationStatus(), 3);

  // The child is reaped: its pid is free for others, and the task no longer signals anything.
  EXPECT_TRUE(vanishes_within(task.processIdentifier(), std::chrono::seconds(1)));
  EXPECT_FALSE(task.isRunning());
  EXPECT_FALSE(task.terminate());
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(task.terminationStatus(), 3);
}

TEST(RunnerOutput, OutputLargerThanAPipeDoesNotBlock) {
  constexpr std::size_t size = 1 << 20;
  const std::string command = "head -c " + std::to_string(size) + " /dev/zero | tr '\\000' a";

  auto plain = shell(command);
  const auto output = syncStdOutExecute(plain);
  ASSERT_TRUE(output.has_value());
  EXPECT_EQ(output->size(), size);
  EXPECT_EQ(output->find_first_not_of('a'), std::string::npos);

  // Without draining, the child would still be blocked at the deadline and be stopped there.
  auto timed = shell(command);
  const auto timed_output = syncStdOutExecuteWithTimeout(timed, 20.0);
  ASSERT_TRUE(timed_output.has_value());
  EXPECT_EQ(timed_output->size(), size);
  EXPECT_EQ(timed.terminationStatus(), 0);
}

TEST(RunnerLifetime, TaskReleasedWhileRunningLeavesNoZombie) {
  pid_t pid = 0;
  {
    platform::task_t task("/bin/sh", {"-c", "sleep 0.2"});
    ASSERT_TRUE(task.launch());
    pid = task.processIdentifier();
  }
  EXPECT_TRUE(vanishes_within(pid, std::chrono::seconds(10)));
}

}  // namespace
