#include "trace/byte_buffer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <thread>
#include <vector>

#include "trace/exception.h"
#include "trace/hex_string.h"

namespace {

TEST(ByteBufferTest, ViewOfAValueHoldsItsBytesLeastSignificantFirst) {
  const std::int64_t alive = byte_buffers_alive();
  {
    const byte_view_t view = make_view_of_u64(0x0102030405060708ULL);
    EXPECT_EQ(byte_buffers_alive(), alive + 1);
    EXPECT_EQ(view.offset, 0u);
    EXPECT_EQ(view.length, 8u);
    ASSERT_NE(view.handle.buffer(), nullptr);
    EXPECT_EQ(view.handle.buffer()->capacity, 8u);
    EXPECT_EQ(view.handle.buffer()->references.load(), 1);
    EXPECT_EQ(view.handle.buffer()->base, static_cast<void*>(view.handle.buffer()));
    EXPECT_EQ(view.bytes()[0], 0x08);
    EXPECT_EQ(view.bytes()[7], 0x01);
    EXPECT_STREQ(hex_string(view).c_str(), "0807060504030201");
  }
  EXPECT_EQ(byte_buffers_alive(), alive);
}

TEST(ByteBufferTest, LastOfTwoHandlesFreesTheBuffer) {
  const std::int64_t alive = byte_buffers_alive();
  auto first = std::make_unique<buffer_handle_t>(buffer_handle_t::allocate(16));
  auto second = std::make_unique<buffer_handle_t>(*first);
  ASSERT_EQ(first->buffer(), second->buffer());
  EXPECT_EQ(second->buffer()->references.load(), 2);

  first.reset();
  EXPECT_EQ(byte_buffers_alive(), alive + 1);
  EXPECT_EQ(second->buffer()->references.load(), 1);

  second.reset();
  EXPECT_EQ(byte_buffers_alive(), alive);
}

TEST(ByteBufferTest, AssigningOverAHandleReleasesWhatItHeld) {
  const std::int64_t alive = byte_buffers_alive();
  buffer_handle_t a = buffer_handle_t::allocate(4);
  buffer_handle_t b = buffer_handle_t::allocate(4);
  b = a;
  EXPECT_EQ(byte_buffers_alive(), alive + 1);
  EXPECT_EQ(a.buffer()->references.load(), 2);
  a = std::move(b);
  EXPECT_EQ(a.buffer()->references.load(), 1);
  a.release();
  EXPECT_EQ(byte_buffers_alive(), alive);
}

TEST(ByteBufferTest, HandlesCopiedAndReleasedOnManyThreadsFreeTheBufferOnce) {
  const std::int64_t alive = byte_buffers_alive();
  {
    const buffer_handle_t shared = buffer_handle_t::allocate(64);
    std::vector<std::thread> threads;
    threads.reserve(4);
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&shared] {
        for (int i = 0; i < 20000; ++i) {
          // The copies are the test: each takes and gives back a reference.
          buffer_handle_t copy(shared);   // NOLINT(performance-unnecessary-copy-initialization)
          buffer_handle_t another(copy);  // NOLINT(performance-unnecessary-copy-initialization)
        }
      });
    }
    for (auto& thread : threads)
      thread.join();
    EXPECT_EQ(shared.buffer()->references.load(), 1);
    EXPECT_EQ(byte_buffers_alive(), alive + 1);
  }
  EXPECT_EQ(byte_buffers_alive(), alive);
}

TEST(HexStringTest, EmptyMissingAndLargeViews) {
  const byte_view_t none{};
  EXPECT_STREQ(hex_string(none).c_str(), "(null)");

  byte_view_t view{0, 0, buffer_handle_t::allocate(2048)};
  EXPECT_EQ(hex_string(view).length(), 0u);
  EXPECT_TRUE(hex_string(view).has_array());

  unsigned char* data = view.handle.buffer()->data();
  for (int i = 0; i < 2048; ++i)
    data[i] = static_cast<unsigned char>(i * 7);
  view.length = 2048;
  const string_t text = hex_string(view);
  ASSERT_EQ(text.length(), 4096u);
  EXPECT_EQ(text.view().substr(0, 8), "00070e15");
  EXPECT_EQ(text.view().substr(4092), "f2f9");
}

TEST(HexStringTest, ViewIsCutToWhatTheBufferHolds) {
  byte_view_t view{6, 10, buffer_handle_t::allocate(8)};
  unsigned char* data = view.handle.buffer()->data();
  for (int i = 0; i < 8; ++i)
    data[i] = static_cast<unsigned char>(0xa0 + i);
  EXPECT_STREQ(hex_string(view).c_str(), "a6a7");

  view.offset = 8;
  EXPECT_STREQ(hex_string(view).c_str(), "");
}

#if defined(VELMORA_SANITIZER)
constexpr bool sanitizer = true;
#else
constexpr bool sanitizer = false;
#endif

// Runs in a child whose address space is too small for the buffer.
[[noreturn]] void allocate_past_the_limit() {
  const rlimit small{512UL << 20, 512UL << 20};
  setrlimit(RLIMIT_AS, &small);
  try {
    const buffer_handle_t huge =
        buffer_handle_t::allocate(std::numeric_limits<std::uint32_t>::max());
  } catch (const base::out_of_memory_exception_t& error) {
    std::_Exit(error.message().view() == "The program ran out of memory." ? 0 : 2);
  }
  std::_Exit(1);
}

TEST(ExceptionTest, BufferThatCannotBeAllocatedThrowsOutOfMemory) {
  if (sanitizer) GTEST_SKIP() << "the sanitizer reserves more address space than the limit";
  EXPECT_EXIT(allocate_past_the_limit(), testing::ExitedWithCode(0), "");
}

}  // namespace
