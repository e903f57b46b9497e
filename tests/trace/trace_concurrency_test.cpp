#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/trace_lines.h"
#include "tests/trace/trace_test_support.h"
#include "trace/trace.h"

namespace {

constexpr int process_count = 4;
constexpr int thread_count = 4;
constexpr int lines_per_thread = 700;

// Long messages, so the lines of all writers take the file over its limit many times.
std::string padding_for(int sequence) {
  return std::string(480, static_cast<char>('a' + sequence % 26));
}

void write_sequence(int process, int thread) {
  const std::string name = "writer-" + std::to_string(process) + "-" + std::to_string(thread);
  trace_t handle(name.c_str());
  for (int sequence = 0; sequence < lines_per_thread; ++sequence) {
    trace_info(handle, "seq %d %s", sequence, padding_for(sequence).c_str());
  }
}

[[noreturn]] void run_writer_process(int process, const std::string& path) {
  // The child gets a descriptor of its own: one inherited through fork would share the
  // parent's lock.
  trace_use_path(string_t(path.c_str()));
  std::vector<std::thread> threads;
  threads.reserve(thread_count);
  for (int thread = 0; thread < thread_count; ++thread) {
    threads.emplace_back(write_sequence, process, thread);
  }
  for (auto& thread : threads)
    thread.join();
  std::_Exit(0);
}

struct writer_lines_t {
  std::vector<int> sequences;
  unsigned long long pid = 0;
  unsigned long long tid = 0;
};

// Writers are named "writer-<process>-<thread>".
char process_of(const std::string& name) {
  return name.at(7);
}

TEST(TraceConcurrencyTest, ProcessesAndThreadsNeverTearOverwriteOrReorderLines) {
  test_support::scratch_directory_t dir;
  const std::string path = dir.path("velmora.trace");
  trace_set_component("helper");

  std::vector<pid_t> children;
  for (int process = 0; process < process_count; ++process) {
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) run_writer_process(process, path);
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  const std::string contents = test_support::read_text(path);
  ASSERT_LE(contents.size(), 1048576u);
  ASSERT_EQ(contents.front(), '\n') << "the file was never trimmed";
  ASSERT_EQ(contents.back(), '\n');

  std::map<std::string, writer_lines_t> writers;
  std::size_t start = 1;
  for (std::size_t end; (end = contents.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string text = contents.substr(start, end - start);
    const auto line = test_support::parse_trace_line(text);
    ASSERT_TRUE(line) << "torn line: " << text;
    int sequence = -1;
    int consumed = 0;
    ASSERT_EQ(std::sscanf(line->message.c_str(), "seq %d %n", &sequence, &consumed), 1) << text;
    ASSERT_EQ(line->message.substr(static_cast<std::size_t>(consumed)), padding_for(sequence))
        << text;
    auto& writer = writers[line->name];
    if (writer.pid == 0) writer = {{}, line->pid, line->tid};
    ASSERT_EQ(writer.pid, line->pid) << "two processes wrote as " << line->name;
    ASSERT_EQ(writer.tid, line->tid) << "two threads wrote as " << line->name;
    writer.sequences.push_back(sequence);
  }

  // A trim drops the oldest lines, so what is left of each writer is the end of its sequence,
  // whole and in order.
  ASSERT_FALSE(writers.empty());
  bool some_writer_trimmed = false;
  for (const auto& [name, writer] : writers) {
    ASSERT_EQ(writer.sequences.back(), lines_per_thread - 1) << name;
    for (std::size_t i = 1; i < writer.sequences.size(); ++i) {
      ASSERT_EQ(writer.sequences[i], writer.sequences[i - 1] + 1) << name << " at " << i;
    }
    some_writer_trimmed = some_writer_trimmed || writer.sequences.front() > 0;
  }
  EXPECT_TRUE(some_writer_trimmed);

  // Each line names its own process and thread.
  std::set<unsigned long long> thread_ids;
  for (const auto& [name, writer] : writers) {
    EXPECT_NE(writer.pid, static_cast<unsigned long long>(getpid())) << name;
    EXPECT_TRUE(thread_ids.insert(writer.tid).second) << name;
    for (const auto& [other_name, other] : writers) {
      EXPECT_EQ(process_of(name) == process_of(other_name), writer.pid == other.pid)
          << name << " and " << other_name;
    }
  }
}

}  // namespace
