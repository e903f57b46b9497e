// Lines per second of the trace writer beside the system calls it is built on: flock, seek,
// write, seek, unlock per line, and the same with the trim that keeps the file under 1 MiB.
// Run pinned: taskset -c 1.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/unique_fd.h"
#include "trace/trace.h"

namespace {

// A directory for the files of one run, removed at exit.
class bench_dir_t {
 public:
  bench_dir_t() {
    char pattern[] = "/tmp/velmora-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    path_ = pattern;
  }
  ~bench_dir_t() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string file(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

bench_dir_t& bench_dir() {
  static bench_dir_t dir;
  return dir;
}

constexpr const char* message = "Installing service for namespace %s";

// A line of the writer's length, for the runs that bypass it.
const std::string& sample_line() {
  static const std::string line =
      "   info 2026-12-07 09:57:44.123     helper  bench  12345  12345" + std::string(26, ' ') +
      "helper_tool - Installing service for namespace velmora_beta\n";
  return line;
}

platform::unique_fd_t open_fresh(const char* name, int extra_flags) {
  const std::string path = bench_dir().file(name);
  ::unlink(path.c_str());
  return platform::unique_fd_t(
      ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | extra_flags, 0644));
}

void use_trace_file(const char* name) {
  const std::string path = bench_dir().file(name);
  ::unlink(path.c_str());
  trace_set_component("helper");
  trace_use_path(string_t(path.c_str()));
}

void BM_TraceInfo(benchmark::State& state) {
  if (state.thread_index() == 0) use_trace_file("writer.trace");
  trace_t handle("helper_tool");
  for (auto _ : state)
    trace_info(handle, message, "velmora_beta");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TraceInfo);
BENCHMARK(BM_TraceInfo)->Threads(4)->UseRealTime();

void BM_PlainAppendWrite(benchmark::State& state) {
  const platform::unique_fd_t fd = open_fresh("plain.trace", O_APPEND);
  const std::string& line = sample_line();
  for (auto _ : state) {
    benchmark::DoNotOptimize(::write(fd.get(), line.data(), line.size()));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainAppendWrite);

// The calls the writer makes for an ordinary line, without formatting or trimming.
void BM_BareLockedAppend(benchmark::State& state) {
  const platform::unique_fd_t fd = open_fresh("bare.trace", 0);
  const std::string& line = sample_line();
  for (auto _ : state) {
    ::flock(fd.get(), LOCK_EX);
    ::lseek(fd.get(), 0, SEEK_END);
    benchmark::DoNotOptimize(::write(fd.get(), line.data(), line.size()));
    benchmark::DoNotOptimize(::lseek(fd.get(), 0, SEEK_END));
    ::flock(fd.get(), LOCK_UN);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareLockedAppend);

// The bare pattern with the writer's trim: past 1 MiB, the last 943,719 bytes move to the front.
void BM_BareLockedAppendWithTrim(benchmark::State& state) {
  constexpr off_t threshold = 0x100000;
  constexpr off_t keep = 0xE6667;
  const platform::unique_fd_t fd = open_fresh("bare-trim.trace", 0);
  const std::string& line = sample_line();
  std::vector<char> kept(keep);
  for (auto _ : state) {
    ::flock(fd.get(), LOCK_EX);
    ::lseek(fd.get(), 0, SEEK_END);
    benchmark::DoNotOptimize(::write(fd.get(), line.data(), line.size()));
    const off_t size = ::lseek(fd.get(), 0, SEEK_END);
    if (size > threshold) {
      const ssize_t got = ::pread(fd.get(), kept.data(), keep, size - keep);
      benchmark::DoNotOptimize(::pwrite(fd.get(), kept.data(), static_cast<std::size_t>(got), 0));
      benchmark::DoNotOptimize(::ftruncate(fd.get(), got));
    }
    ::flock(fd.get(), LOCK_UN);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareLockedAppendWithTrim);

// Four processes write the same number of lines into one file at once; the time is the
// wall time until the last one has finished.
void BM_TraceInfoFourProcesses(benchmark::State& state) {
  constexpr int processes = 4;
  const int lines = static_cast<int>(state.range(0));
  const std::string path = bench_dir().file("processes.trace");
  ::unlink(path.c_str());
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
      std::fflush(nullptr);
      const pid_t child = fork();
      if (child == 0) {
        trace_use_path(string_t(path.c_str()));
        trace_t handle("helper_tool");
        for (int i = 0; i < lines; ++i)
          trace_info(handle, message, "velmora_beta");
        std::_Exit(0);
      }
      children.push_back(child);
    }
    for (const pid_t child : children)
      ::waitpid(child, nullptr, 0);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  state.SetItemsProcessed(state.iterations() * processes * lines);
}
BENCHMARK(BM_TraceInfoFourProcesses)
    ->Arg(20000)
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
