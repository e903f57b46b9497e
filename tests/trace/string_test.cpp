#include "trace/string.h"

#include <gtest/gtest.h>

#include <string_view>
#include <thread>

#include "trace/thread_text.h"
#include "trace/trace.h"

namespace {

TEST(StringTest, MadeFromTextOwnsACopyWithTheZero) {
  char source[] = "velmora";
  const string_t text(source);
  source[0] = 'X';
  EXPECT_EQ(text.length(), 7u);
  EXPECT_STREQ(text.c_str(), "velmora");
  EXPECT_EQ(text.c_str()[7], '\0');

  const string_t from_null(static_cast<const char*>(nullptr));
  EXPECT_TRUE(from_null.has_array());
  EXPECT_EQ(from_null.length(), 0u);
  EXPECT_STREQ(from_null.c_str(), "");

  const string_t with_zero(std::string_view("a\0b", 3));
  EXPECT_EQ(with_zero.length(), 3u);
  EXPECT_EQ(with_zero.view(), std::string_view("a\0b", 3));
}

TEST(StringTest, CopiesAreDeepAndReleasedStringsCopyAsReleased) {
  const string_t original("abc");
  string_t assigned("something longer");
  assigned = original;
  EXPECT_NE(assigned.c_str(), original.c_str());
  EXPECT_EQ(assigned.view(), "abc");

  string_t released("gone");
  released.release();
  EXPECT_FALSE(released.has_array());
  EXPECT_STREQ(released.c_str(), "");
  EXPECT_FALSE(string_t(released).has_array());

  string_t moved(std::move(assigned));
  EXPECT_EQ(moved.view(), "abc");
  // The moved-from state is what is checked here.
  // NOLINTNEXTLINE(bugprone-use-after-move,clang-analyzer-cplusplus.Move)
  EXPECT_FALSE(assigned.has_array());
}

TEST(StringTest, ConcatenationAndExchange) {
  const string_t joined = string_t() + string_t("abc");
  EXPECT_EQ(joined.length(), 3u);
  EXPECT_STREQ(joined.c_str(), "abc");

  string_t released;
  released.release();
  EXPECT_EQ((string_t("ab") + released).view(), "ab");
  EXPECT_EQ((string_t("/var/log/") + "/" + "velmora.trace").view(), "/var/log//velmora.trace");

  string_t a("first");
  string_t b("second");
  swap(a, b);
  EXPECT_EQ(a.view(), "second");
  EXPECT_EQ(b.view(), "first");
}

int provider_calls = 0;

const char* provider_reading_thread_text() {
  ++provider_calls;
  return thread_text("provided name");
}

TEST(TraceNameTest, FixedNameIsReturnedAndProviderNeverCalled) {
  provider_calls = 0;
  trace_t fixed("helper_tool");
  EXPECT_STREQ(trace_name(fixed), "helper_tool");

  trace_t both("fixed", provider_reading_thread_text);
  EXPECT_STREQ(trace_name(both), "fixed");
  EXPECT_EQ(provider_calls, 0);

  trace_t nameless(nullptr);
  EXPECT_EQ(trace_name(nameless), nullptr);
}

TEST(TraceNameTest, ProviderIsCalledOnceAndTheThreadBufferIsRestored) {
  provider_calls = 0;
  // The caller's format lies in the thread buffer, as hidden texts do.
  const char* format = thread_text("Starting %S %S");

  trace_t provided(nullptr, provider_reading_thread_text);
  const char* name = trace_name(provided);
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name, "provided name");
  EXPECT_NE(name, thread_text_buffer());
  EXPECT_STREQ(format, "Starting %S %S");

  EXPECT_EQ(trace_name(provided), name);
  EXPECT_EQ(provider_calls, 1);
}

TEST(ThreadTextTest, EachThreadHasItsOwnBuffer) {
  const char* mine = thread_text("main thread text");
  std::thread([] { thread_text("other thread text"); }).join();
  EXPECT_STREQ(mine, "main thread text");
}

}  // namespace
