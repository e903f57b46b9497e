#include "tools/launchctl/launchctl.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include "tests/support/scratch_directory.h"
#include "tests/tools/job_list_writer.h"
#include "tools/launchctl/job_process.h"

using test_support::scratch_directory_t;

namespace standin::launchctl {
namespace {

// The subcommands against a store in a scratch directory. Started jobs are children of the
// test: each is killed and reaped at the end.
class Launchctl : public testing::Test {
 protected:
  void TearDown() override {
    for (const auto& job : store_->all()) {
      if (!job.process) continue;
      ::kill(job.process->pid, SIGKILL);
      ::waitpid(job.process->pid, nullptr, 0);
    }
  }

  std::string list_path(const job_list_t& list) {
    auto path = directory_.path(list.label + ".plist");
    EXPECT_TRUE(write_job_list(path, list));
    return path;
  }
  std::optional<job_t> loaded() const { return store_->find(list_.label); }
  bool job_runs() const {
    const auto job = loaded();
    return job && job->process && is_running(*job->process);
  }
  // Reaps a job process that was terminated, so that it does not linger as a zombie.
  static bool ended_by_sigterm(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
  }

  scratch_directory_t directory_;
  std::optional<job_store_t> store_ = job_store_t::open(directory_.path("launchd"));
  job_list_t list_;
};

TEST_F(Launchctl, LoadWithRunAtLoadStartsTheJob) {
  list_.run_at_load = true;
  EXPECT_EQ(load(*store_, list_path(list_)), 0);
  EXPECT_TRUE(job_runs());
}

TEST_F(Launchctl, LoadWithoutRunAtLoadOnlyLoads) {
  EXPECT_EQ(load(*store_, list_path(list_)), 0);
  ASSERT_TRUE(loaded());
  EXPECT_FALSE(loaded()->process);
  EXPECT_EQ(start(*store_, list_.label), 0);
  EXPECT_TRUE(job_runs());
}

TEST_F(Launchctl, ADisabledListIsNotLoaded) {
  list_.disabled = true;
  list_.run_at_load = true;
  EXPECT_EQ(load(*store_, list_path(list_)), 1);
  EXPECT_FALSE(loaded());
}

TEST_F(Launchctl, LoadingTwiceFailsAndKeepsTheRunningJob) {
  list_.run_at_load = true;
  const auto path = list_path(list_);
  ASSERT_EQ(load(*store_, path), 0);
  const auto first = loaded()->process;
  EXPECT_EQ(load(*store_, path), 1);
  EXPECT_EQ(loaded()->process, first);
}

TEST_F(Launchctl, UnusableListsAreNotLoaded) {
  EXPECT_EQ(load(*store_, directory_.path("missing.plist")), 1);
  job_list_t no_label;
  no_label.label = "";
  EXPECT_EQ(load(*store_, list_path(no_label)), 1);
  EXPECT_TRUE(store_->all().empty());
}

TEST_F(Launchctl, AJobWhoseProgramCannotStartStaysLoaded) {
  list_.run_at_load = true;
  list_.program_arguments_xml = "<string>/Applications/Missing.app/Contents/MacOS/Missing</string>";
  EXPECT_EQ(load(*store_, list_path(list_)), 0);
  ASSERT_TRUE(loaded());
  EXPECT_FALSE(loaded()->process);
  EXPECT_EQ(start(*store_, list_.label), 1);
}

TEST_F(Launchctl, StartOfARunningJobKeepsItsProcess) {
  list_.run_at_load = true;
  ASSERT_EQ(load(*store_, list_path(list_)), 0);
  const auto first = loaded()->process;
  EXPECT_EQ(start(*store_, list_.label), 0);
  EXPECT_EQ(loaded()->process, first);
}

TEST_F(Launchctl, StopTerminatesTheJobAndKeepsItLoaded) {
  list_.run_at_load = true;
  ASSERT_EQ(load(*store_, list_path(list_)), 0);
  const auto pid = loaded()->process->pid;
  EXPECT_EQ(stop(*store_, list_.label), 0);
  EXPECT_TRUE(ended_by_sigterm(pid));
  ASSERT_TRUE(loaded());
  EXPECT_FALSE(loaded()->process);
  EXPECT_EQ(stop(*store_, list_.label), 0) << "stopping a stopped job";
}

TEST_F(Launchctl, UnloadTerminatesAndForgetsTheJob) {
  list_.run_at_load = true;
  const auto path = list_path(list_);
  ASSERT_EQ(load(*store_, path), 0);
  const auto pid = loaded()->process->pid;
  EXPECT_EQ(unload(*store_, path), 0);
  EXPECT_TRUE(ended_by_sigterm(pid));
  EXPECT_FALSE(loaded());
  EXPECT_EQ(unload(*store_, path), 1) << "unloading what is not loaded";
  EXPECT_EQ(load(*store_, path), 0) << "loading again after unload";
}

TEST_F(Launchctl, LabelsThatAreNotLoadedCannotBeStartedOrStopped) {
  EXPECT_EQ(start(*store_, "com.corvantix.unknown.service"), 1);
  EXPECT_EQ(stop(*store_, "com.corvantix.unknown.service"), 1);
  EXPECT_TRUE(store_->all().empty());
}

TEST_F(Launchctl, LimitMaxfilesIsRecorded) {
  EXPECT_EQ(run(*store_, {"limit", "maxfiles", "65536", "1000000"}), 0);
  EXPECT_EQ(store_->find_limit("maxfiles"), (limit_t{"65536", "1000000"}));
  EXPECT_EQ(run(*store_, {"limit", "maxfiles", "1024", "unlimited"}), 0);
  EXPECT_EQ(store_->find_limit("maxfiles"), (limit_t{"1024", "unlimited"}));
}

TEST_F(Launchctl, MalformedLimitsAreRefusedAndNotRecorded) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"limit", "maxfiles", "-1", "10"},
        {"limit", "maxfiles", "10"},
        {"limit", "maxfiles", "10", "lots"},
        {"limit", "maxproc", "10", "20"},
        {"limit", "maxfiles", "1", "2", "3"}}) {
    EXPECT_EQ(run(*store_, arguments), 1) << arguments.size();
  }
  EXPECT_FALSE(store_->find_limit("maxfiles"));
  EXPECT_FALSE(store_->find_limit("maxproc"));
}

TEST_F(Launchctl, UnknownOrIncompleteSubcommandsFail) {
  EXPECT_EQ(run(*store_, {}), 1);
  EXPECT_EQ(run(*store_, {"bootstrap", "system"}), 1);
  EXPECT_EQ(run(*store_, {"load"}), 1);
  EXPECT_EQ(run(*store_, {"start", "a", "b"}), 1);
}

}  // namespace
}  // namespace standin::launchctl
