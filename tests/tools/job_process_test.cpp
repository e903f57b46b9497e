#include "tools/launchctl/job_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/support/files.h"
#include "tests/support/scratch_directory.h"

using test_support::read_text;
using test_support::scratch_directory_t;

namespace standin {
namespace {

// The jobs started here are children of the test; each is reaped before the test ends.
class JobProcess : public testing::Test {
 protected:
  process_ref_t start(const job_t& job) {
    auto started = spawn_job(job);
    EXPECT_TRUE(std::holds_alternative<process_ref_t>(started));
    const auto process = std::get<process_ref_t>(started);
    children_.push_back(process.pid);
    return process;
  }
  int wait_for(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::erase(children_, pid);
    return status;
  }
  void TearDown() override {
    for (pid_t pid : children_) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }

  job_t sleeper() const {
    job_t job;
    job.label = "com.corvantix.sleeper";
    job.program_arguments = {"/bin/sleep", "300"};
    return job;
  }

  std::vector<pid_t> children_;
};

TEST_F(JobProcess, StartedJobRunsInItsOwnSessionUntilTerminated) {
  const auto process = start(sleeper());
  EXPECT_TRUE(is_running(process));
  EXPECT_EQ(::getsid(process.pid), process.pid);
  EXPECT_TRUE(terminate(process));
  const int status = wait_for(process.pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_FALSE(is_running(process));
  EXPECT_FALSE(terminate(process));
}

// A recorded pid that now belongs to another process (other start time) is not the job, and
// must never receive the job's SIGTERM.
TEST_F(JobProcess, AReusedPidIsNotTheJob) {
  const auto process = start(sleeper());
  const process_ref_t stale{process.pid, process.start_time + 1};
  EXPECT_FALSE(is_running(stale));
  EXPECT_FALSE(terminate(stale));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(is_running(process)) << "the live process was signalled";
}

TEST_F(JobProcess, AnEndedJobIsNotRunningEvenBeforeItIsReaped) {
  job_t job = sleeper();
  job.program_arguments = {"/bin/true"};
  const auto process = start(job);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (is_running(process) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(is_running(process));
  EXPECT_EQ(wait_for(process.pid), 0);
}

TEST_F(JobProcess, RunsInTheWorkingDirectoryWithTheOutputPaths) {
  scratch_directory_t directory;
  job_t job = sleeper();
  job.program = "/bin/sh";
  job.program_arguments = {"velmora-job", "-c", "pwd; echo \"$0\"; echo oops >&2"};
  job.working_directory = directory.path();
  job.standard_out_path = directory.path("out");
  job.standard_error_path = directory.path("err");
  wait_for(start(job).pid);

  EXPECT_EQ(read_text(directory.path("out")), directory.path() + "\nvelmora-job\n");
  EXPECT_EQ(read_text(directory.path("err")), "oops\n");
}

TEST_F(JobProcess, AMissingProgramIsASpawnError) {
  job_t job = sleeper();
  job.program_arguments = {"/Applications/Missing.app/Contents/MacOS/Missing"};
  const auto started = spawn_job(job);
  ASSERT_TRUE(std::holds_alternative<spawn_error_t>(started));
  EXPECT_NE(std::get<spawn_error_t>(started).message.find("Missing"), std::string::npos);
}

}  // namespace
}  // namespace standin
