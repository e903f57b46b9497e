#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "tests/support/files.h"
#include "tests/support/scratch_directory.h"
#include "tests/trace/trace_test_support.h"
#include "trace/trace.h"

namespace {

using test_support::read_text;
using test_support::write_text;

constexpr std::size_t limit = 1048576;
constexpr std::size_t kept = 943719;

// Numbered lines of varying length, so any misplaced cut shows in the contents.
std::string numbered_lines(std::size_t size) {
  std::string text;
  for (std::size_t n = 0; text.size() < size; ++n) {
    text += "line " + std::to_string(n) + std::string(n % 37, '.') + "\n";
  }
  text.resize(size);
  return text;
}

class TraceTrimTest : public testing::Test {
 protected:
  void SetUp() override {
    trace_set_component("helper");
    line_length_ = measure_line_length();
  }
  void TearDown() override { trace_use_path(string_t("")); }

  // Every line written here has the same length: one probe line gives it.
  std::size_t measure_line_length() {
    const std::string probe = dir_.path("probe.trace");
    trace_use_path(string_t(probe.c_str()));
    write_line();
    return read_text(probe).size();
  }

  void write_line() { trace_info(handle_, "the line that decides"); }

  // Fills the trace file so that one more line brings it to the given size, then writes it.
  std::string fill_and_write(std::size_t size_after_line, const std::string& filler) {
    write_text(path_, filler.substr(0, size_after_line - line_length_));
    trace_use_path(string_t(path_.c_str()));
    write_line();
    return read_text(path_);
  }

  test_support::scratch_directory_t dir_;
  std::string path_ = dir_.path("velmora.trace");
  trace_t handle_{"main"};
  std::size_t line_length_ = 0;
};

TEST_F(TraceTrimTest, FileOfExactlyTheLimitIsNotTrimmed) {
  const std::string filler = numbered_lines(limit);
  const std::string contents = fill_and_write(limit, filler);
  ASSERT_EQ(contents.size(), limit);
  EXPECT_EQ(contents.substr(0, limit - line_length_), filler.substr(0, limit - line_length_));
}

TEST_F(TraceTrimTest, OneByteOverKeepsTheLastBytesFromTheirFirstLineFeed) {
  const std::string filler = numbered_lines(limit + 1);
  const std::string contents = fill_and_write(limit + 1, filler);

  // Before the trim the file held the filler and then the line, which now ends the file.
  ASSERT_GE(contents.size(), line_length_);
  const std::string before =
      filler.substr(0, limit + 1 - line_length_) + contents.substr(contents.size() - line_length_);
  const std::string tail = before.substr(before.size() - kept);
  const std::string expected = tail.substr(tail.find('\n'));

  ASSERT_LT(contents.size(), kept);
  EXPECT_EQ(contents.front(), '\n');
  EXPECT_EQ(contents, expected);
}

TEST_F(TraceTrimTest, ZeroByteAlsoStartsTheKeptData) {
  std::string filler = numbered_lines(limit + 1);
  const std::size_t cut = limit + 1 - kept;
  // A zero byte a few bytes into the kept window, before any line feed there.
  const std::size_t first_feed = filler.find('\n', cut);
  ASSERT_GT(first_feed, cut + 2);
  filler[cut + 1] = '\0';

  const std::string contents = fill_and_write(limit + 1, filler);
  EXPECT_EQ(contents.size(), kept - 1);
  EXPECT_EQ(contents.front(), '\0');
  EXPECT_EQ(contents.substr(0, first_feed - cut - 1), filler.substr(cut + 1, first_feed - cut - 1));
}

TEST_F(TraceTrimTest, LinesAfterATrimAreAppendedToTheTrimmedFile) {
  const std::string trimmed = fill_and_write(limit + 100, numbered_lines(limit + 100));
  ASSERT_LT(trimmed.size(), kept);
  write_line();
  const std::string contents = read_text(path_);
  ASSERT_EQ(contents.size(), trimmed.size() + line_length_);
  EXPECT_EQ(contents.substr(0, trimmed.size()), trimmed);
}

// A write that stops part-way (a full disk; here the file-size limit) takes its part of a line
// back, so the next line does not run on from it.
TEST_F(TraceTrimTest, LineCutShortIsTakenBack) {
  const std::string filler = numbered_lines(999) + "\n";
  write_text(path_, filler);
  trace_use_path(string_t(path_.c_str()));
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const rlimit cut{filler.size() + line_length_ / 2, saved.rlim_max};
  const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
  trace_test::captured_output_t out(STDOUT_FILENO);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &cut), 0);
  write_line();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  std::signal(SIGXFSZ, previous_handler);
  EXPECT_EQ(out.finish(), "Write failed (27)\n");
  EXPECT_EQ(read_text(path_), filler);

  write_line();
  const std::string contents = read_text(path_);
  ASSERT_EQ(contents.size(), filler.size() + line_length_);
  EXPECT_EQ(contents.substr(filler.size(), 2), "  ") << "a line of its own";
}

}  // namespace
