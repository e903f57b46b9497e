#include "platform/base/once_callback.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <utility>

namespace {

using text_callback_t = platform::once_callback_t<void(const std::string&)>;

static_assert(!std::is_copy_constructible_v<text_callback_t>);
static_assert(!std::is_copy_assignable_v<text_callback_t>);
static_assert(std::is_nothrow_move_constructible_v<text_callback_t>);
// Running needs the callback as an rvalue: `reply(x)` on a named block does not compile.
static_assert(!std::is_invocable_v<text_callback_t&, const std::string&>);
static_assert(std::is_invocable_v<text_callback_t&&, const std::string&>);

TEST(OnceCallbackTest, RunsItsCallableOnceAndIsEmptyAfterwards) {
  std::string received;
  int runs = 0;
  text_callback_t callback = [&](const std::string& text) {
    received = text;
    ++runs;
  };
  ASSERT_TRUE(callback);
  std::move(callback)("answer");
  EXPECT_EQ(received, "answer");
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(callback);  // NOLINT(bugprone-use-after-move): running consumes it
}

TEST(OnceCallbackTest, MovingHandsOverTheCallableAndEmptiesTheSource) {
  int runs = 0;
  platform::once_callback_t<void(int)> first = [&](int value) { runs += value; };
  platform::once_callback_t<void(int)> second = std::move(first);
  EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): checking the moved-from state
  ASSERT_TRUE(second);
  std::move(second)(3);
  EXPECT_EQ(runs, 3);
  EXPECT_FALSE(platform::once_callback_t<void(int)>());
}

TEST(OnceCallbackTest, HoldsMoveOnlyStateAndReleasesItWhenRunOrDropped) {
  auto owned = std::make_shared<int>(7);
  const std::weak_ptr<int> watch = owned;
  auto unique = std::make_unique<std::shared_ptr<int>>(std::move(owned));
  int seen = 0;
  platform::once_callback_t<void()> run = [state = std::move(unique), &seen] { seen = **state; };
  std::move(run)();
  EXPECT_EQ(seen, 7);
  EXPECT_TRUE(watch.expired());

  auto dropped_state = std::make_shared<int>(1);
  const std::weak_ptr<int> dropped_watch = dropped_state;
  {
    const platform::once_callback_t<void()> dropped = [state = std::move(dropped_state)] {};
  }
  EXPECT_TRUE(dropped_watch.expired());
}

}  // namespace
