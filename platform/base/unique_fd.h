#pragma once

#include <unistd.h>

#include <utility>

namespace platform {

// Owns one file descriptor and closes it when it goes out of scope.
class unique_fd_t {
 public:
  unique_fd_t() = default;
  explicit unique_fd_t(int fd) : fd_(fd) {}
  unique_fd_t(unique_fd_t&& other) noexcept : fd_(other.release()) {}
  unique_fd_t& operator=(unique_fd_t&& other) noexcept {
    reset(other.release());
    return *this;
  }
  unique_fd_t(const unique_fd_t&) = delete;
  unique_fd_t& operator=(const unique_fd_t&) = delete;
  ~unique_fd_t() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace platform
