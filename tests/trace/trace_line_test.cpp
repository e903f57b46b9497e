#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/trace_lines.h"
#include "tests/trace/trace_test_support.h"
#include "trace/trace.h"

namespace {

using test_support::parse_trace_line;
using test_support::read_text;
using trace_test::write_at_level;

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start != text.size()) lines.push_back(text.substr(start) + "<no line feed>");
  return lines;
}

long long milliseconds_now() {
  timeval now{};
  gettimeofday(&now, nullptr);
  return now.tv_sec * 1000LL + now.tv_usec / 1000;
}

class TraceLineTest : public testing::Test {
 protected:
  void SetUp() override {
    trace_set_component("helper");
    trace_use_path(string_t(path_.c_str()));
  }
  void TearDown() override { trace_use_path(string_t("")); }

  std::vector<std::string> lines() const { return split_lines(read_text(path_)); }

  // Runs body on a new thread carrying the given name.
  static void on_named_thread(const char* name, const std::function<void()>& body) {
    std::thread([&] {
      pthread_setname_np(pthread_self(), name);
      body();
    }).join();
  }

  test_support::scratch_directory_t dir_;
  std::string path_ = dir_.path("velmora.trace");
  trace_t helper_tool_{"helper_tool"};
};

TEST_F(TraceLineTest, LineHasEveryColumnAtItsWidthWithUtcTime) {
  // A zone far from UTC, so local time in any column would show.
  const char* old_zone = std::getenv("TZ");
  const std::string saved_zone = old_zone != nullptr ? old_zone : "";
  setenv("TZ", "VLM-05:30", 1);
  tzset();

  long long before = 0, after = 0;
  pid_t writer_tid = 0;
  on_named_thread("writer", [&] {
    writer_tid = gettid();
    before = milliseconds_now();
    trace_info(helper_tool_, "Cleaning authorizationdb..");
    after = milliseconds_now();
  });
  old_zone != nullptr ? setenv("TZ", saved_zone.c_str(), 1) : unsetenv("TZ");
  tzset();

  const auto all = lines();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].substr(0, 8), "   info ");
  const auto line = parse_trace_line(all[0]);
  ASSERT_TRUE(line) << all[0];
  EXPECT_EQ(line->level, "info");
  EXPECT_EQ(line->component, "helper");
  EXPECT_EQ(line->thread, "writer");
  EXPECT_EQ(line->pid, static_cast<unsigned long long>(getpid()));
  EXPECT_EQ(line->tid, static_cast<unsigned long long>(writer_tid));
  EXPECT_EQ(line->name, "helper_tool");
  EXPECT_EQ(line->message, "Cleaning authorizationdb..");

  std::tm fields{};
  fields.tm_year = line->year - 1900;
  fields.tm_mon = line->month - 1;
  fields.tm_mday = line->day;
  fields.tm_hour = line->hour;
  fields.tm_min = line->minute;
  fields.tm_sec = line->second;
  const long long stamp = timegm(&fields) * 1000LL + line->millisecond;
  // Seconds and milliseconds are two readings of the clock, so allow one second either way.
  EXPECT_GE(stamp, before - 1000);
  EXPECT_LE(stamp, after + 1000);
}

TEST_F(TraceLineTest, LevelsAreNamedAndUnknownLevelsPrintInvalid) {
  for (int level : {2, 3, 4, 5, 6, 7, 8, 0, 9, -1})
    write_at_level(level, "main", "level %d", level);
  trace_error(helper_tool_, "from error");
  trace_warning(helper_tool_, "from warning");
  trace_info(helper_tool_, "from info");

  const std::vector<std::string> expected = {"auth",  "crash",    "error",   "warning", "info",
                                             "debug", "internal", "invalid", "invalid", "invalid",
                                             "error", "warning",  "info"};
  const auto all = lines();
  ASSERT_EQ(all.size(), expected.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    const auto line = parse_trace_line(all[i]);
    ASSERT_TRUE(line) << all[i];
    EXPECT_EQ(line->level, expected[i]) << all[i];
  }
}

// "%S" reaches the front-end only in a format made at run time: the compiler refuses it in a
// literal.
TEST_F(TraceLineTest, TextConversionIsRewrittenButEscapedPercentIsNot) {
  const std::string installing = "Installing %S from %s";
  const std::string escaped = "%%%S";
  trace_info(helper_tool_, installing.c_str(), "Velmora.app", "/tmp/in");
  trace_info(helper_tool_, "100%%S");
  trace_info(helper_tool_, escaped.c_str(), "abc");
  trace_info(helper_tool_, nullptr);

  const auto all = lines();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(parse_trace_line(all[0])->message, "Installing Velmora.app from /tmp/in");
  EXPECT_EQ(parse_trace_line(all[1])->message, "100%S");
  EXPECT_EQ(parse_trace_line(all[2])->message, "%abc");
  EXPECT_EQ(parse_trace_line(all[3])->message, "");
}

TEST_F(TraceLineTest, LongMessagesAndFormatsAreCutAt1023Characters) {
  const std::string long_text(2000, 'x');
  trace_info(helper_tool_, "%s", long_text.c_str());
  const std::string long_format(1500, 'y');
  trace_info(helper_tool_, long_format.c_str());
  trace_info(helper_tool_, "%s%c%s", "before", '\0', "after");

  const auto all = lines();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(parse_trace_line(all[0])->message, std::string(1023, 'x'));
  EXPECT_EQ(parse_trace_line(all[1])->message, std::string(1023, 'y'));
  // A message holding a zero byte ends there.
  EXPECT_EQ(parse_trace_line(all[2])->message, "before");
}

// A client's text cannot end its line and forge the next one.
TEST_F(TraceLineTest, ControlCharactersAreEscapedAndOrdinaryTextIsNot) {
  const std::string forged =
      "/tmp/V.app\n   info 2026-12-08 10:00:00.000     helper        1      1      "
      "                     helper_tool - ** Installation finished **";
  trace_info(helper_tool_, "* from: %s *", forged.c_str());
  trace_info(helper_tool_, "unknown operation %s", "\x1b[31mred\r\t\x7f\x01");
  trace_info(helper_tool_, "caf\xc3\xa9 C:\\dir 100%% \"q\"");
  trace_info(helper_tool_, "%s", std::string(1000, '\n').c_str());
  trace_info(helper_tool_, "%s", (std::string(1020, 'x') + "\x01").c_str());

  const auto all = lines();
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(parse_trace_line(all[0])->message,
            "* from: /tmp/V.app\\n   info 2026-12-08 10:00:00.000     helper        1      1"
            "                           helper_tool - ** Installation finished ** *");
  EXPECT_EQ(parse_trace_line(all[1])->message, "unknown operation \\x1b[31mred\\r\\t\\x7f\\x01");
  EXPECT_EQ(parse_trace_line(all[2])->message, "caf\xc3\xa9 C:\\dir 100% \"q\"");
  std::string escaped_feeds;
  for (int i = 0; i < 511; ++i)
    escaped_feeds += "\\n";
  EXPECT_EQ(parse_trace_line(all[3])->message, escaped_feeds) << "cut between escapes";
  EXPECT_EQ(parse_trace_line(all[4])->message, std::string(1020, 'x'));
}

TEST_F(TraceLineTest, LineLongerThanItsBufferIsCutAndStillEndsTheLine) {
  const std::string long_name(200, 'n');
  const std::string long_text(1023, 'm');
  write_at_level(trace_level_info, long_name.c_str(), "%s", long_text.c_str());
  trace_info(helper_tool_, "next");

  const std::string contents = read_text(path_);
  const std::size_t first_end = contents.find('\n');
  ASSERT_EQ(first_end, 1150u);
  const auto all = split_lines(contents);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(parse_trace_line(all[1])->message, "next");
}

TEST_F(TraceLineTest, ThreadNamedVelmoraShowsAsMainAndUnnamedAsBlanks) {
  on_named_thread("velmora", [&] { trace_info(helper_tool_, "named"); });
  on_named_thread("", [&] { trace_info(helper_tool_, "unnamed"); });
  std::thread([&] { trace_info(helper_tool_, "never named"); }).join();
  on_named_thread("worker", [&] { trace_info(helper_tool_, "worker"); });

  const auto all = lines();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(parse_trace_line(all[0])->thread, "main");
  EXPECT_EQ(all[1].substr(42, 8), "        ") << all[1];
  EXPECT_EQ(parse_trace_line(all[1])->thread, "");
  // A thread nobody named carries the process's name on Linux; it still counts as unnamed.
  EXPECT_EQ(parse_trace_line(all[2])->thread, "") << all[2];
  EXPECT_EQ(parse_trace_line(all[3])->thread, "worker");
}

// The writer remembers a thread's name between lines; a rename, by the thread itself or by
// another one, shows on the very next line.
TEST_F(TraceLineTest, RenamedThreadShowsItsNewNameOnTheNextLine) {
  on_named_thread("first", [&] {
    trace_info(helper_tool_, "one");
    pthread_setname_np(pthread_self(), "second");
    trace_info(helper_tool_, "two");
    std::thread([self = pthread_self()] { pthread_setname_np(self, "velmora"); }).join();
    trace_info(helper_tool_, "three");
    pthread_setname_np(pthread_self(), "");
    trace_info(helper_tool_, "four");
  });

  const auto all = lines();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(parse_trace_line(all[0])->thread, "first");
  EXPECT_EQ(parse_trace_line(all[1])->thread, "second");
  EXPECT_EQ(parse_trace_line(all[2])->thread, "main");
  EXPECT_EQ(parse_trace_line(all[3])->thread, "");
}

TEST_F(TraceLineTest, DisabledHandleWritesNothing) {
  trace_t quiet("quiet", nullptr, false);
  trace_info(helper_tool_, "first");
  trace_error(quiet, "not written");
  trace_info(helper_tool_, "last");

  const auto all = lines();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(parse_trace_line(all[1])->message, "last");
}

TEST_F(TraceLineTest, ExplodeWritesTheWholeLineThenAborts) {
  EXPECT_DEATH(write_at_level(trace_explode, "main", "boom %d", 7), "");

  const std::string contents = read_text(path_);
  ASSERT_FALSE(contents.empty());
  EXPECT_EQ(contents.back(), '\n');
  const auto all = split_lines(contents);
  ASSERT_EQ(all.size(), 1u);
  const auto line = parse_trace_line(all[0]);
  ASSERT_TRUE(line) << all[0];
  EXPECT_EQ(line->level, "explode");
  EXPECT_EQ(line->message, "boom 7");
}

TEST_F(TraceLineTest, UnwritablePathReportsEveryLineAndRetriesTheOpen) {
  const std::string missing_dir = dir_.path("missing");
  const std::string path = missing_dir + "/velmora.trace";
  trace_use_path(string_t(path.c_str()));

  trace_test::captured_output_t out(STDOUT_FILENO);
  trace_test::captured_output_t err(STDERR_FILENO);
  trace_info(helper_tool_, "lost one");
  trace_error(helper_tool_, "lost two");
  write_at_level(trace_explode, "main", "no abort without a file");
  const std::string printed = out.finish();
  const std::string errors = err.finish();

  EXPECT_EQ(printed, "Error opening logfile (2)Error opening logfile (2)Error opening logfile (2)");
  const std::string report = "Could not create the logfile (2)Logging error.";
  EXPECT_EQ(errors, report + report + report);

  ASSERT_EQ(mkdir(missing_dir.c_str(), 0755), 0);
  trace_test::captured_output_t quiet(STDERR_FILENO);
  trace_info(helper_tool_, "landed");
  EXPECT_EQ(quiet.finish(), "");
  const auto all = split_lines(read_text(path));
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(parse_trace_line(all[0])->message, "landed");
}

TEST_F(TraceLineTest, DescriptorZeroCountsAsNotOpenAndTheNextLineOpensAgain) {
  EXPECT_EXIT(
      {
        ::close(STDIN_FILENO);
        trace_use_path(string_t(path_.c_str()));
        trace_info(helper_tool_, "lost");
        trace_info(helper_tool_, "kept");
        const auto all = lines();
        std::_Exit(all.size() == 1 && parse_trace_line(all[0])->message == "kept" ? 0 : 1);
      },
      testing::ExitedWithCode(0), "Could not create the logfile \\([0-9]+\\)Logging error\\.");
}

// Runs in a child made by fork after the parent has written a line from the same thread.
[[noreturn]] void write_in_child(trace_t& handle, const std::string& path) {
  trace_use_path(string_t(path.c_str()));
  trace_info(handle, "from the child");
  const auto written = split_lines(read_text(path));
  const auto line = written.size() == 1 ? parse_trace_line(written[0]) : std::nullopt;
  std::_Exit(line && line->pid == static_cast<unsigned long long>(getpid()) &&
                     line->tid == static_cast<unsigned long long>(gettid())
                 ? 0
                 : 1);
}

TEST_F(TraceLineTest, ChildMadeByForkShowsItsOwnProcessAndThreadIds) {
  trace_info(helper_tool_, "from the parent");
  const auto line = parse_trace_line(lines().at(0));
  ASSERT_TRUE(line);
  EXPECT_EQ(line->pid, static_cast<unsigned long long>(getpid()));
  EXPECT_EXIT(write_in_child(helper_tool_, dir_.path("child.trace")), testing::ExitedWithCode(0),
              "");
}

TEST_F(TraceLineTest, FileIsClosedOnExecAndSwitchingPathsClosesTheOldFile) {
  trace_info(helper_tool_, "to the first file");
  const int fd = trace_record()->descriptor;
  ASSERT_GT(fd, 0);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);

  const std::string second = dir_.path("second.trace");
  trace_use_path(string_t(second.c_str()));
  trace_info(helper_tool_, "to the second file");

  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ignored;
    EXPECT_NE(std::filesystem::read_symlink(entry.path(), ignored).string(), path_);
  }
  ASSERT_EQ(lines().size(), 1u);
  const auto moved = split_lines(read_text(second));
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_EQ(parse_trace_line(moved[0])->message, "to the second file");
}

}  // namespace
