#pragma once

#include <concepts>
#include <memory>
#include <type_traits>
#include <utility>

namespace platform {

// A callable that can be moved but not copied, and run at most once: running it consumes it,
// so a second answer or a shared copy does not compile (`std::move(reply)(value)`). An empty
// callback (default-made, moved from or already run) converts to false.
template <typename signature_t>
class once_callback_t;

template <typename... args_t>
class once_callback_t<void(args_t...)> {
 public:
  once_callback_t() = default;

  template <typename callable_t>
  requires(!std::same_as<std::remove_cvref_t<callable_t>, once_callback_t> &&
           std::invocable<std::remove_cvref_t<callable_t>&, args_t...>)
      once_callback_t(callable_t&& callable)  // NOLINT(google-explicit-constructor): like a lambda
      : body_(std::make_unique<body_of<std::remove_cvref_t<callable_t>>>(
            std::forward<callable_t>(callable))) {}

  once_callback_t(once_callback_t&&) noexcept = default;
  once_callback_t& operator=(once_callback_t&&) noexcept = default;
  once_callback_t(const once_callback_t&) = delete;
  once_callback_t& operator=(const once_callback_t&) = delete;
  ~once_callback_t() = default;

  explicit operator bool() const { return body_ != nullptr; }

  void operator()(args_t... args) && {
    const std::unique_ptr<body_t> body = std::move(body_);
    body->run(std::forward<args_t>(args)...);
  }

 private:
  struct body_t {
    virtual ~body_t() = default;
    virtual void run(args_t... args) = 0;
  };

  template <typename callable_t>
  struct body_of final : body_t {
    explicit body_of(callable_t body) : callable(std::move(body)) {}
    void run(args_t... args) override { callable(std::forward<args_t>(args)...); }
    callable_t callable;
  };

  std::unique_ptr<body_t> body_;
};

}  // namespace platform
