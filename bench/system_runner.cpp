// Cost of one synchronous tool run through the runner, next to a bare posix_spawn and waitpid of
// the same program. Run pinned to one CPU (taskset -c 0) so both sides see the same placement.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/base/unique_fd.h"
#include "system/task_shell_extensions.h"

namespace {

// posix_spawn, optionally with standard output into a pipe read to its end, then waitpid.
int bare_spawn(const char* path, const char* argument, std::string* output) {
  std::vector<char*> argv = {const_cast<char*>(path)};
  if (argument != nullptr) argv.push_back(const_cast<char*>(argument));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  platform::unique_fd_t read_end;
  platform::unique_fd_t write_end;
  if (output != nullptr) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    read_end.reset(fds[0]);
    write_end.reset(fds[1]);
    posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDOUT_FILENO);
  }
  pid_t pid = 0;
  const int error = posix_spawn(&pid, path, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return -1;
  write_end.reset();
  if (output != nullptr) {
    char buffer[4096];
    ssize_t count = 0;
    while ((count = ::read(read_end.get(), buffer, sizeof buffer)) > 0) {
      output->append(buffer, static_cast<std::size_t>(count));
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WEXITSTATUS(status);
}

void bare_spawn_true(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(bare_spawn("/bin/true", nullptr, nullptr));
}

void sync_exec_true(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(syncExec("/bin/true", {}));
}

void bare_spawn_echo(benchmark::State& state) {
  for (auto _ : state) {
    std::string output;
    benchmark::DoNotOptimize(bare_spawn("/bin/echo", "hello", &output));
    benchmark::DoNotOptimize(output);
  }
}

void sync_std_out_execute_echo(benchmark::State& state) {
  for (auto _ : state) {
    platform::task_t task("/bin/echo", {"hello"});
    auto output = syncStdOutExecute(task);
    benchmark::DoNotOptimize(output);
  }
}

void sync_std_out_execute_with_timeout_echo(benchmark::State& state) {
  for (auto _ : state) {
    platform::task_t task("/bin/echo", {"hello"});
    auto output = syncStdOutExecuteWithTimeout(task, 10.0);
    benchmark::DoNotOptimize(output);
  }
}

}  // namespace

BENCHMARK(bare_spawn_true)->Unit(benchmark::kMicrosecond);
BENCHMARK(sync_exec_true)->Unit(benchmark::kMicrosecond);
BENCHMARK(bare_spawn_echo)->Unit(benchmark::kMicrosecond);
BENCHMARK(sync_std_out_execute_echo)->Unit(benchmark::kMicrosecond);
BENCHMARK(sync_std_out_execute_with_timeout_echo)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
