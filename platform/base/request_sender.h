#pragma once

#include <sys/types.h>

// The client process whose request the calling thread is handling, as the connection that
// carried the request knows it (what the platform offers a handler as its current connection's
// audit token). The authority asks for credentials on behalf of this process.
namespace platform {

struct request_sender_t {
  pid_t pid = 0;
  uid_t uid = 0;
  int pidfd = -1;  // pins the process while the request runs, where the kernel offers one
};

namespace request_sender_detail {
inline const request_sender_t*& current() {
  thread_local const request_sender_t* sender = nullptr;
  return sender;
}
}  // namespace request_sender_detail

// Null on a thread that is not handling a request.
inline const request_sender_t* current_request_sender() {
  return request_sender_detail::current();
}

// Names the sender for the lifetime of this object on the calling thread.
class request_sender_scope_t {
 public:
  explicit request_sender_scope_t(const request_sender_t& sender)
      : sender_(sender), previous_(request_sender_detail::current()) {
    request_sender_detail::current() = &sender_;
  }
  request_sender_scope_t(const request_sender_scope_t&) = delete;
  request_sender_scope_t& operator=(const request_sender_scope_t&) = delete;
  ~request_sender_scope_t() { request_sender_detail::current() = previous_; }

 private:
  request_sender_t sender_;
  const request_sender_t* previous_;
};

}  // namespace platform
