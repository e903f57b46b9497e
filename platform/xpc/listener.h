#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "platform/base/unique_fd.h"
#include "platform/xpc/connection.h"
#include "trace/trace.h"

namespace platform {

class xpc_connection_group_t;

// The socket path that stands for a Mach service name.
std::string xpc_socket_path(std::string_view mach_service_name);

// Listens on a Unix stream socket. After resume its own thread (the listener queue) accepts
// clients and asks the delegate about each; a refused connection is closed at once. The
// destructor stops accepting, ends every running connection and waits for their queues.
class xpc_listener_t {
 public:
  using delegate_t =
      std::function<bool(xpc_listener_t& listener, const std::shared_ptr<xpc_connection_t>&)>;

  static std::unique_ptr<xpc_listener_t> initWithMachServiceName(std::string_view name,
                                                                 trace_t& trace);

  // trace takes the warnings of the connections; it must outlive the listener.
  xpc_listener_t(std::string socket_path, trace_t& trace);
  xpc_listener_t(const xpc_listener_t&) = delete;
  xpc_listener_t& operator=(const xpc_listener_t&) = delete;
  ~xpc_listener_t();

  void setDelegate(delegate_t delegate) { delegate_ = std::move(delegate); }
  // How long a client may take to finish a frame it has begun.
  void setFrameTimeout(std::chrono::milliseconds timeout) { frame_timeout_ = timeout; }
  // Starts listening; false, with an error line, when there is no socket to listen on.
  bool resume();

  const std::string& socket_path() const { return socket_path_; }

  // True while a client waits to be accepted from the socket or for the delegate's decision.
  bool has_undecided_clients() const;

 private:
  void accept_loop();
  bool wait_for_descriptors();
  void offer(unique_fd_t socket);

  std::string socket_path_;
  trace_t& trace_;
  delegate_t delegate_;
  std::chrono::milliseconds frame_timeout_{5000};
  std::shared_ptr<xpc_connection_group_t> group_;
  unique_fd_t listening_;
  unique_fd_t stop_event_;
  std::thread accept_thread_;
};

}  // namespace platform
